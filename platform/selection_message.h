#pragma once
// What the runs of one selection say to each other over the gatherer's pipe
// (selection.h), apart from the pipe itself so that every system's tests and the fuzzer
// read it:
// - a run to the gatherer: its files, each name followed by a zero byte;
// - the gatherer's answer once it has added them to its own: kSelectionTaken followed by
//   the name of the event it sets when its work on them has ended (whatever became of
//   each: the gatherer shows that). A run that was answered waits for that event; a
//   gatherer that ends without setting it (it died or was killed) gives the files back.

#include <cstddef>
#include <string>
#include <vector>

constexpr size_t kSelectionMessageLimit = 64 * 1024;
constexpr char kSelectionTaken = 'T';

// The message for files; false when they cannot travel in one: an empty name, a name
// holding a zero byte, or more than kSelectionMessageLimit bytes in all.
bool MakeSelectionMessage(const std::vector<std::string>& files, std::string* message);

// Appends the files of message to files; false, files untouched, for a message that
// MakeSelectionMessage cannot have made (a cut one among them).
bool ReadSelectionMessage(const std::string& message, std::vector<std::string>& files);

// The gatherer's answer naming its event ("" when it has none: the run then waits for
// the gatherer to end), and its reading; false for anything else (the files were not
// taken).
std::string MakeTakenAnswer(const std::string& finishedEvent);
bool ReadTakenAnswer(const std::string& answer, std::string* finishedEvent);
