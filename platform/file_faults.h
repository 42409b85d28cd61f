#pragma once
// Internal to the FileHandle implementations: the code an installed FileFaults gives
// for the call about to be made, or 0. Only test builds have the seam; elsewhere this is
// a constant 0 and the checks fold away.

#include <cstdint>

#include "platform/file_handle.h"

enum class FileCall { Open, Read, Write, GetSize, Flush };

#ifdef QV3_FILE_FAULTS
uint32_t InjectedFault(FileCall call, FileMode mode);
#else
inline uint32_t InjectedFault(FileCall, FileMode) { return 0; }
#endif
