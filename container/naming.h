#pragma once
// A container is named after its plaintext: the plaintext's full name, a dot and a
// four-letter extension ("aqv3", or one telling the kind of plaintext). The reader takes
// the last five bytes off again.

#include <string>
#include <vector>

// One of the 14 constant extensions, without the dot. The kind is found from the text
// after the last '.' of the whole path (so a dot in a folder name counts when the file
// name has none), ignoring ASCII letter case. Never fails.
const char* ChooseEncryptedExtension(const char* path, bool useGenericExtension);

// The n-th name for a file of path where path itself is taken (n = 1 gives path): " (n)"
// goes before the file name's last extension, or at its end when it has none ("a.txt"
// gives "a (2).txt", ".profile" gives ".profile (2)"). Names are tried up to
// kNumberedAttempts.
inline constexpr unsigned kNumberedAttempts = 99;
std::string NumberedName(const std::string& path, unsigned n);

// The suffix of the temporary file an output (a plaintext, a container) is written to,
// beside its final path, before it is put in place: the output's path and the suffix,
// or, where that name is taken, the suffix followed by a number from 2 on.
inline constexpr char kPartialSuffix[] = ".qv3part";

// The temporary name of output: attempt 1 is output + kPartialSuffix, attempt n > 1 has
// n appended. Names are tried up to kPartialAttempts.
inline constexpr unsigned kPartialAttempts = 99;
std::string PartialPath(const std::string& output, unsigned attempt);

// The output a temporary name of PartialPath stands for; false when name is not one.
bool OutputOfPartial(const std::string& name, std::string* output);

// Whether path ends in a dot and one of the 14 extensions a container carries, in any
// letter case: the only names whose plaintext's name the reader can tell.
bool HasContainerExtension(const std::string& path);
// The 14 extensions a container carries, without the dot: the generic one first, then
// the 13 categories'. The one table every list of them (the MIME package, the file
// managers' menus, the site's file picker) is made from or checked against.
std::vector<std::string> ContainerExtensions();

// Whether path ends in a dot and one of the 13 category extensions (any letter case): the
// names the writers give containers made with the empty password.
bool HasCategoryExtension(const std::string& path);

// Why a container's name gives no plaintext path.
enum class PlaintextNameProblem {
  None,
  Invalid,       // too long a path, or no folder separator in working-folder mode
  Odd,           // a name too short to lose its last five bytes
  NotContainer,  // a name that does not end in a container's extension
};

// The one rule for where a container's plaintext goes, for the decryption engine and
// every front end that looks for the plaintext afterwards: the container's path (beside
// it) or workingFolder (the run's, resolved once), a separator and the container's name
// (beside: its whole path) less its extension, which must be one of the containers' own
// (HasContainerExtension). The whole path and its temporary siblings must fit the
// system's path limit. *output is set only with None.
PlaintextNameProblem PlaintextPath(const std::string& containerPath, bool toWorkingFolder,
                                   const std::string& workingFolder, std::string* output);
