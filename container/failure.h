#pragma once
// What went wrong in the container code, as a value: a kind, the system's error code (0
// for none) and the path the message names. Engines, reader and writer raise and report
// failures this way; the user's text is made from one only where it is shown, by
// FailureText, so no caller ever compares texts.

#include <cstdint>
#include <string>

enum class FailureKind {
  // The reader, in its order of checks.
  SizeUnknown,                // the size cannot be read (also the encryption engine's input)
  TooSmall,                   // below 53 bytes, or a version 1 container below 134
  TooSmallV2,                 // a version 2 container below 136, or extensions overrunning it
  HeadUnreadable,             // the first 5 bytes
  BadSignature,               // not "AES"
  BadVersion,                 // a version above 2
  ExtensionLengthUnreadable,  // an extension's 2-byte length
  ExtensionUnreadable,        // an extension's content
  BadCipherLength,            // the ciphertext length is not a multiple of 16
  Unreadable,                 // file IV, key block, MACs, ciphertext or length byte; any input read
  KeyBlockMac,                // wrong password or a damaged key block (versions 1 and 2)
  BulkMacV0,                  // wrong password or damaged data (version 0)
  BulkMac,                    // damaged data (versions 1 and 2)
  // The writer.
  WriteFailed,          // the container or the plaintext being written
  KeyBlockWriteFailed,  // the key block: its own wording
  NextWriteFailed,      // a piece of plaintext
  // The engines, around the format.
  InvalidName,           // too long a path, or none the working folder can take a name from
  OddName,               // a name too short to lose its encrypted extension
  NotAContainerName,     // a name that does not end in one of the containers' extensions
  InputMissing,          // the input does not exist
  DirectoryNotDecrypted,
  DirectoryNotEncrypted,
  InputNotOpened,        // the encryption engine's input exists but cannot be opened
  OutputNotCreated,      // the plaintext cannot be created or put in place
  OutputNotOpened,       // the container cannot be created (it exists, for one)
  PartialNamesTaken,     // every temporary name of an output is taken (the path: the first)
  SourceNotDeleted,      // --delete-source: the input could not be removed (its output stays)
  SourceIsLink,          // --delete-source on a link: nothing is done, nothing removed
  NoCryptoProvider,      // the system's random source cannot be had
  NoRandomBytes,         // the system's random source failed
  // The job runner (no path).
  MemoryAllocation,
  ThreadCreation,
};

struct Failure {
  FailureKind kind;
  uint32_t code = 0;  // the system's error number, 0 for none
  std::string path;
};

// The fixed text before and after the path of a failure's message, in Korean.
struct FailureMessage {
  const char* prefix;
  const char* suffix;
};
FailureMessage MessageFor(FailureKind kind);

// The failure's message as the user reads it, in their language (Tr): prefix, path,
// suffix. The front end adds the system's text for a non-zero code.
std::string FailureText(const Failure& failure);

// The failure of an input file that could not be opened for reading (status code): it
// is missing, a directory, or unreadable otherwise; worded for the engine that reads it.
Failure InputOpenFailure(const std::string& path, bool encrypting, uint32_t code);
