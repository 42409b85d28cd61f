#pragma once
// Opening a container for reading outside the engines, with the engine's messages.

#include <string>

class FileHandle;

// Opens path for reading. Throws SystemErrorException with the message the decryption
// engine gives for a container it cannot open: missing, a directory, unreadable.
void OpenContainer(const std::string& path, FileHandle* file);
