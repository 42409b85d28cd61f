#include "platform/file_ops.h"

#include <windows.h>
#include <aclapi.h>

#include <vector>

#include "platform/system_error.h"
#include "platform/text.h"
#include "platform/wide_win32.h"

const char kPathSeparator = '\\';
const size_t kMaxPathLength = MAX_PATH;
size_t PathLength(const std::string& path) { return Utf16Length(path); }

namespace {

uint32_t Status(BOOL ok) { return ok ? 0 : GetLastError(); }

DWORD Attributes(const char* path) { return GetFileAttributesW(Wide(path).c_str()); }

// Whether the open file is the one the path itself names: not what a link leads to.
// Windows opens a link itself when asked (FILE_FLAG_OPEN_REPARSE_POINT); a compatible
// system that shows links as the files they lead to (Wine) still tells where the handle
// leads, and a link then shows as another path.
bool NamesItself(HANDLE file, const char* path) {
  std::wstring opened(1024, L'\0');
  DWORD n = GetFinalPathNameByHandleW(file, &opened[0], static_cast<DWORD>(opened.size()), FILE_NAME_NORMALIZED);
  if (n >= opened.size()) {
    opened.resize(n + 1);
    n = GetFinalPathNameByHandleW(file, &opened[0], static_cast<DWORD>(opened.size()), FILE_NAME_NORMALIZED);
  }
  if (n == 0 || n >= opened.size()) return false;
  opened.resize(n);
  if (opened.compare(0, 8, L"\\\\?\\UNC\\") == 0)
    opened = L"\\\\" + opened.substr(8);
  else if (opened.compare(0, 4, L"\\\\?\\") == 0)
    opened.erase(0, 4);
  const std::wstring name = Wide(path);
  std::wstring full(1024, L'\0');
  DWORD m = GetFullPathNameW(name.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
  if (m >= full.size()) {
    full.resize(m + 1);
    m = GetFullPathNameW(name.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
  }
  if (m == 0 || m >= full.size()) return false;
  full.resize(m);
  return CompareStringOrdinal(opened.c_str(), static_cast<int>(opened.size()), full.c_str(),
                              static_cast<int>(full.size()), TRUE) == CSTR_EQUAL;
}

// Whether the file's owner is the user this process runs as.
bool OwnedByThisUser(HANDLE file) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS)
    return false;
  bool same = false;
  HANDLE token = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size ? size : 1);
    if (size && GetTokenInformation(token, TokenUser, buffer.data(), size, &size))
      same = EqualSid(owner, reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid) != FALSE;
    CloseHandle(token);
  }
  LocalFree(descriptor);
  return same;
}

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

namespace {

// The name itself, never what a reparse point there leads to; a link (a reparse point, or
// a name that leads elsewhere) gives INVALID_HANDLE_VALUE with ERROR_REPARSE_TAG_INVALID.
HANDLE OpenName(const char* path, DWORD access, DWORD share) {
  HANDLE file = CreateFileW(Wide(path).c_str(), access, share, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return file;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
      !NamesItself(file, path)) {
    CloseHandle(file);
    SetLastError(ERROR_REPARSE_TAG_INVALID);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

// Sets the attributes of the file opened (never through a link).
bool SetAttributesByHandle(HANDLE file, DWORD attributes) {
  FILE_BASIC_INFO info = {};  // zero times leave them as they are
  info.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(file, FileBasicInfo, &info, sizeof info) != FALSE;
}

}  // namespace

uint32_t MovePath(const char* from, const char* to, Replacing replacing) {
  if (replacing == Replacing::Never) {
    if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_WRITE_THROUGH)) return 0;
    const DWORD error = GetLastError();
    // One code for a taken name, whichever call met it.
    return error == ERROR_ALREADY_EXISTS ? ERROR_FILE_EXISTS : error;
  }
  // Windows refuses to move onto a read-only file; some compatible systems do not. The
  // mark is cleared through a handle on the file at that name itself, so a link swapped in
  // leads nowhere: a link there is replaced as it is.
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  HANDLE target = OpenName(to, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (target != INVALID_HANDLE_VALUE) {
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(target, &info)) attributes = info.dwFileAttributes;
  }
  const bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
                        !(attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
  if (readOnly && replacing == Replacing::Writable) {
    CloseHandle(target);
    return ERROR_ACCESS_DENIED;
  }
  if (readOnly && !SetAttributesByHandle(target, attributes & ~FILE_ATTRIBUTE_READONLY)) {
    const DWORD error = GetLastError();
    CloseHandle(target);
    return error;
  }
  if (target != INVALID_HANDLE_VALUE) CloseHandle(target);
  if (MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
  const DWORD error = GetLastError();
  if (readOnly) {
    target = OpenName(to, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    if (target != INVALID_HANDLE_VALUE) {
      SetAttributesByHandle(target, attributes);
      CloseHandle(target);
    }
  }
  return error;
}

bool IsLink(const char* path) {
  const DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
  HANDLE file = OpenName(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_REPARSE_TAG_INVALID;
  CloseHandle(file);
  return false;
}

bool IdentityOf(const char* path, FileIdentity* identity) {
  HANDLE file = OpenName(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = GetFileInformationByHandle(file, &info) != FALSE;
  CloseHandle(file);
  if (!ok) return false;
  identity->volume = info.dwVolumeSerialNumber;
  identity->file = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
  return true;
}

uint64_t SizeOfFile(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
    return 0;
  return static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

bool FolderIdentityOf(const char* path, FileIdentity* identity) {
  HANDLE folder = CreateFileW(Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = GetFileInformationByHandle(folder, &info) != FALSE &&
                  (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  CloseHandle(folder);
  if (!ok) return false;
  identity->volume = info.dwVolumeSerialNumber;
  identity->file = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
  return true;
}

bool RemoveAbandonedFile(const char* path) {
  // No sharing: a writer that still has the file open (every writer here does until its
  // file is in place) makes this fail.
  HANDLE file = OpenName(path, DELETE | FILE_READ_ATTRIBUTES | READ_CONTROL, 0);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  bool ours = GetFileInformationByHandle(file, &info) &&
              !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
  if (ours) ours = OwnedByThisUser(file);
  FILE_DISPOSITION_INFO disposition = {TRUE};
  const bool removed = ours && SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
  CloseHandle(file);
  return removed;
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
