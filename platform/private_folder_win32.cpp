#include "platform/private_folder.h"

#include <windows.h>
#include <aclapi.h>

#include <memory>

#include "platform/wide_win32.h"

namespace {

const wchar_t kMarkStream[] = L":Zone.Identifier";

// The process token's user, or the owner it gives new objects (an elevated
// administrator's are owned by the Administrators group): either owns a folder of ours.
bool IsOwnersSid(PSID owner) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  bool ours = false;
  for (TOKEN_INFORMATION_CLASS what : {TokenUser, TokenOwner}) {
    DWORD size = 0;
    GetTokenInformation(token, what, nullptr, 0, &size);
    if (size == 0) continue;
    std::unique_ptr<BYTE[]> buffer(new BYTE[size]);
    if (!GetTokenInformation(token, what, buffer.get(), size, &size)) continue;
    PSID sid = what == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid
                                 : reinterpret_cast<TOKEN_OWNER*>(buffer.get())->Owner;
    if (EqualSid(sid, owner)) ours = true;
  }
  CloseHandle(token);
  return ours;
}

bool IsOwnedByUs(HANDLE folder) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS)
    return false;
  const bool ours = owner != nullptr && IsOwnersSid(owner);
  LocalFree(descriptor);
  return ours;
}

bool IsPlainFile(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES &&
         !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE));
}

}  // namespace

FolderRefusal PrivateFolder::Open(const std::string& path, uint32_t* code) {
  Close();
  if (code) *code = 0;
  const std::wstring wide = Wide(path);
  if (!CreateDirectoryW(wide.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
    if (code) *code = GetLastError();
    return FolderRefusal::Missing;
  }
  // Held without delete sharing: while it is open the folder cannot be renamed or removed,
  // so its path keeps naming this folder.
  HANDLE h = CreateFileW(wide.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL,
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (code) *code = GetLastError();
    return FolderRefusal::Missing;
  }
  BY_HANDLE_FILE_INFORMATION info = {};
  FolderRefusal refusal = FolderRefusal::None;
  // The name is looked at too, now that the folder cannot move: some compatible systems
  // (Wine) describe a link's target through the handle, and the link only by its name.
  const DWORD named = GetFileAttributesW(wide.c_str());
  if (!GetFileInformationByHandle(h, &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
      ((info.dwFileAttributes | named) & FILE_ATTRIBUTE_REPARSE_POINT) || named == INVALID_FILE_ATTRIBUTES)
    refusal = FolderRefusal::NotAFolder;
  else if (!IsOwnedByUs(h))
    refusal = FolderRefusal::NotOwned;
  if (refusal != FolderRefusal::None) {
    CloseHandle(h);
    return refusal;
  }
  m_handle = reinterpret_cast<intptr_t>(h);
  m_path = path;
  return FolderRefusal::None;
}

void PrivateFolder::Close() {
  if (m_handle != -1) CloseHandle(reinterpret_cast<HANDLE>(m_handle));
  m_handle = -1;
}

bool PrivateFolder::IsOpen() const { return m_handle != -1; }

std::string PrivateFolder::PathOf(const std::string& name) const { return m_path + "\\" + name; }

bool PrivateFolder::List(std::vector<std::string>* names) const {
  names->clear();
  if (m_handle == -1) return false;
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW(Wide(PathOf("*")).c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return false;
  do {
    if (IsPlainFile(data.dwFileAttributes)) names->push_back(Utf8(data.cFileName));
  } while (FindNextFileW(search, &data));
  FindClose(search);
  return true;
}

bool PrivateFolder::Stamp(const std::string& name, FileStamp* identity) const {
  if (m_handle == -1) return false;
  HANDLE h = CreateFileW(Wide(PathOf(name)).c_str(), FILE_READ_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info = {};
  const bool ok = GetFileInformationByHandle(h, &info) && IsPlainFile(info.dwFileAttributes);
  CloseHandle(h);
  if (!ok) return false;
  identity->id.volume = info.dwVolumeSerialNumber;
  identity->id.file = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  identity->size = static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
  identity->modified = static_cast<int64_t>((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                                            info.ftLastWriteTime.dwLowDateTime);
  return true;
}

uint32_t PrivateFolder::Remove(const std::string& name) const {
  if (m_handle == -1) return ERROR_INVALID_HANDLE;
  const std::wstring path = Wide(PathOf(name));
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
  if (!IsPlainFile(attributes)) return ERROR_ACCESS_DENIED;
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  // The file's mark stream goes with it; where the system keeps it as a file of its own
  // (Wine), that goes first.
  if (MarkedFileOf(name).empty()) DeleteFileW((path + kMarkStream).c_str());
  if (DeleteFileW(path.c_str())) return 0;
  const DWORD error = GetLastError();
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path.c_str(), attributes);
  return error;
}

bool CopyOriginMark(const std::string& from, const std::string& to) {
  HANDLE source = CreateFileW((Wide(from) + kMarkStream).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (source == INVALID_HANDLE_VALUE) return false;
  char bytes[4096];
  DWORD got = 0;
  const BOOL read = ReadFile(source, bytes, sizeof bytes, &got, nullptr);
  CloseHandle(source);
  if (!read || got == 0) return false;
  const std::wstring target = Wide(to);
  const DWORD attributes = GetFileAttributesW(target.c_str());
  if (!IsPlainFile(attributes)) return false;
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(target.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  HANDLE mark = CreateFileW((target + kMarkStream).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  bool copied = false;
  if (mark != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    copied = WriteFile(mark, bytes, got, &written, nullptr) && written == got;
    CloseHandle(mark);
  }
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(target.c_str(), attributes);
  return copied;
}

std::string OriginMarkName(const std::string& name) { return name + ":Zone.Identifier"; }

// No file name holds ':' on Windows; a listed one is Wine's stand-in for a stream.
std::string MarkedFileOf(const std::string& name) {
  const size_t colon = name.find(':');
  return colon == std::string::npos || colon == 0 ? std::string() : name.substr(0, colon);
}
