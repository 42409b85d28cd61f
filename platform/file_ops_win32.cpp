#include "platform/file_ops.h"

#include <windows.h>

#include "platform/system_error.h"
#include "platform/text.h"
#include "platform/wide_win32.h"

const char kPathSeparator = '\\';
const size_t kMaxPathLength = MAX_PATH;
size_t PathLength(const std::string& path) { return Utf16Length(path); }

namespace {

uint32_t Status(BOOL ok) { return ok ? 0 : GetLastError(); }

DWORD Attributes(const char* path) { return GetFileAttributesW(Wide(path).c_str()); }

}  // namespace

uint32_t DeletePath(const char* path) { return Status(DeleteFileW(Wide(path).c_str())); }

uint32_t SetReadOnly(const char* path, bool readOnly) {
  // The attributes of a reparse point would be those of the link on Windows and of its
  // target on some compatible systems: a link is left alone.
  const DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return ERROR_ACCESS_DENIED;
  return Status(SetFileAttributesW(Wide(path).c_str(), readOnly ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL));
}

bool NameTaken(const char* path) {
  // GetFileAttributes describes a reparse point itself, not what it leads to.
  return Attributes(path) != INVALID_FILE_ATTRIBUTES;
}

uint32_t MoveRefusal(const char* to, Replacing replacing) {
  if (replacing == Replacing::Never && NameTaken(to)) return ERROR_FILE_EXISTS;
  if (replacing == Replacing::Writable && IsReadOnly(to)) return ERROR_ACCESS_DENIED;
  return 0;
}

uint32_t MovePath(const char* from, const char* to, Replacing replacing) {
  const DWORD attributes = Attributes(to);
  const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
                        !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  if (replacing == Replacing::Never) {
    if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_WRITE_THROUGH)) return 0;
    const DWORD error = GetLastError();
    // One code for a taken name, whichever call met it.
    return error == ERROR_ALREADY_EXISTS ? ERROR_FILE_EXISTS : error;
  }
  // Windows refuses to move onto a read-only file; some compatible systems do not.
  if (readOnly) {
    if (replacing == Replacing::Writable) return ERROR_ACCESS_DENIED;
    if (!SetFileAttributesW(Wide(to).c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) return GetLastError();
  }
  if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
  const DWORD error = GetLastError();
  if (readOnly) SetFileAttributesW(Wide(to).c_str(), attributes);
  return error;
}

uint32_t CreateFolder(const char* path) {
  if (CreateDirectoryW(Wide(path).c_str(), nullptr)) return 0;
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS) {
    const DWORD attributes = Attributes(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
  }
  return error;
}

void FlushVolume(char driveLetter) {
  const bool letter = (driveLetter >= 'A' && driveLetter <= 'Z') || (driveLetter >= 'a' && driveLetter <= 'z');
  if (!letter) return;  // a UNC or relative path names no volume of its own
  wchar_t device[] = L"\\\\.\\X:";
  device[4] = static_cast<wchar_t>(driveLetter);
  HANDLE volume = CreateFileW(device, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_DIRECTORY, nullptr);
  if (volume == INVALID_HANDLE_VALUE) return;
  FlushFileBuffers(volume);
  CloseHandle(volume);
}

bool IsReadOnly(const char* path) {
  const DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         (attributes & FILE_ATTRIBUTE_READONLY);
}

bool ListFiles(const char* folder, std::vector<std::string>* names) {
  names->clear();
  const std::string prefix = std::string(folder) + kPathSeparator;
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW(Wide(prefix + "*").c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return false;
  do {
    if (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE))
      continue;
    names->push_back(Utf8(data.cFileName));
  } while (FindNextFileW(search, &data));
  FindClose(search);
  return true;
}

bool IsFileInUse(const char* path) {
  // A read-only file refuses to be opened for writing on Windows for every user; a
  // process the system lets through anyway (an administrator under Wine) must see it the
  // same way.
  if (IsReadOnly(path)) return true;
  HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return false;
  }
  return ClassifyFileError(GetLastError()) != FileErrorClass::Absent;
}

bool IsFileOpen(const char* path) {
  HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return false;
  }
  return ClassifyFileError(GetLastError()) == FileErrorClass::InUse;
}
