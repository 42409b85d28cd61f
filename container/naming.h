#pragma once
// A container is named after its plaintext: the plaintext's full name, a dot and a
// four-letter extension ("aqv3", or one telling the kind of plaintext). The reader takes
// the last five bytes off again.

// One of the 14 constant extensions, without the dot. The kind is found from the text
// after the last '.' of the whole path (multibyte-aware, so a dot in a folder name counts
// when the file name has none), ignoring ASCII letter case. Never fails.
const char* ChooseEncryptedExtension(const char* path, bool useGenericExtension);
