#pragma once
// A container is named after its plaintext: the plaintext's full name, a dot and a
// four-letter extension ("aqv3", or one telling the kind of plaintext). The reader takes
// the last five bytes off again.

#include <string>

// One of the 14 constant extensions, without the dot. The kind is found from the text
// after the last '.' of the whole path (multibyte-aware, so a dot in a folder name counts
// when the file name has none), ignoring ASCII letter case. Never fails.
const char* ChooseEncryptedExtension(const char* path, bool useGenericExtension);

// The suffix of the temporary file a plaintext is written to, beside its final path,
// before it is put in place.
inline constexpr char kPartialSuffix[] = ".qv3part";

// Why a container's name gives no plaintext path.
enum class PlaintextNameProblem {
  None,
  Invalid,  // too long a path, or no folder separator in working-folder mode
  Odd,      // a name too short to lose its last five bytes
};

// The one rule for where a container's plaintext goes, for the decryption engine and
// every front end that looks for the plaintext afterwards: the container's path (beside
// it) or the working folder, a separator and the container's name (beside: its whole
// path) less its last five bytes, whatever they are. The whole path and its temporary
// sibling must fit the system's path limit. *output is set only with None.
PlaintextNameProblem PlaintextPath(const std::string& containerPath, bool toWorkingFolder,
                                   std::string* output);
