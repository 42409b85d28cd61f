#pragma once
// Internal to the FileHandle implementations: the code an installed FileFaults gives
// for the call about to be made, or 0.

#include <cstdint>

#include "crypto/file_handle.h"

uint32_t InjectedFault(FileFaults::Operation operation, FileMode mode);
