#include <windows.h>

#include "platform/file_faults.h"
#include "platform/file_handle.h"
#include "platform/file_ops.h"
#include "platform/system_error.h"
#include "platform/wide_win32.h"

namespace {

HANDLE H(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

static_assert(sizeof(intptr_t) == sizeof(HANDLE), "handle width");

const uint32_t FileHandle::kInvalidHandle = ERROR_INVALID_HANDLE;
const uint32_t FileHandle::kOpenFailed = ERROR_OPEN_FAILED;

FileHandle::~FileHandle() { Close(); }

uint32_t FileHandle::Open(const char* path, FileMode mode, Disposition disposition) {
  if (IsOpen()) return kOpenFailed;
  m_mode = mode;
  m_dwOpenError = 0;
  if (const uint32_t fault = InjectedFault(FileCall::Open, mode)) return m_dwOpenError = fault;

  const bool write = mode == FileMode::Write;
  // Windows refuses these for every user; a process the system lets through anyway
  // (root under Wine) must not replace a read-only file nor open a directory either.
  const std::wstring name = Wide(path);
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return m_dwOpenError = ERROR_ACCESS_DENIED;
    if (write && disposition != Disposition::CreateNew && disposition != Disposition::CreateNewPrivate &&
        (attributes & FILE_ATTRIBUTE_READONLY))
      return m_dwOpenError = ERROR_ACCESS_DENIED;
  }

  // Written files are opened as what their name is, never what a reparse point there
  // leads to; a reparse point is then refused (CreateNew fails on any taken name).
  DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
  if (write) {
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
        disposition != Disposition::CreateNew && disposition != Disposition::CreateNewPrivate)
      return m_dwOpenError = ERROR_ACCESS_DENIED;
    flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  }
  // A file being written may be renamed by its writer while it is open (its output is put
  // in place before the handle goes, so that no one takes the file for abandoned), and
  // nothing else.
  const DWORD created = disposition == Disposition::CreateNewPrivate ? CREATE_NEW : static_cast<DWORD>(disposition);
  HANDLE h = CreateFileW(name.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                         write ? FILE_SHARE_DELETE : FILE_SHARE_READ, nullptr, created, flags, nullptr);
  m_hFile = reinterpret_cast<intptr_t>(h);
  if (h == INVALID_HANDLE_VALUE) m_dwOpenError = GetLastError();
  return m_dwOpenError;
}

uint32_t FileHandle::Read(void* buffer, uint32_t count, uint32_t* read) {
  *read = 0;
  if (!IsOpen() || m_mode == FileMode::Write) return kInvalidHandle;
  if (const uint32_t fault = InjectedFault(FileCall::Read, m_mode)) return fault;
  DWORD n = 0;
  if (!ReadFile(H(m_hFile), buffer, count, &n, nullptr)) return GetLastError();
  *read = n;
  return 0;
}

uint32_t FileHandle::Write(const void* buffer, uint32_t count, uint32_t* written) {
  *written = 0;
  if (!IsOpen() || m_mode == FileMode::Read) return kInvalidHandle;
  if (const uint32_t fault = InjectedFault(FileCall::Write, m_mode)) return fault;
  DWORD n = 0;
  if (!WriteFile(H(m_hFile), buffer, count, &n, nullptr)) return GetLastError();
  *written = n;
  return 0;
}

uint32_t FileHandle::GetSize(int64_t* size) {
  if (!IsOpen() || m_mode == FileMode::Write) return kInvalidHandle;
  if (const uint32_t fault = InjectedFault(FileCall::GetSize, m_mode)) return fault;
  LARGE_INTEGER li;
  if (!GetFileSizeEx(H(m_hFile), &li)) return GetLastError();
  *size = li.QuadPart;
  return 0;
}

uint32_t FileHandle::Seek(uint64_t offset) {
  if (!IsOpen() || m_mode == FileMode::Write) return kInvalidHandle;
  LARGE_INTEGER li;
  li.QuadPart = static_cast<LONGLONG>(offset);
  if (!SetFilePointerEx(H(m_hFile), li, nullptr, FILE_BEGIN)) return GetLastError();
  return 0;
}

uint32_t FileHandle::MarkReadOnly() {
  if (!IsOpen() || m_mode == FileMode::Read) return kInvalidHandle;
  // Zero times leave them as they are; the attributes become exactly read-only, as
  // SetFileAttributes(path, FILE_ATTRIBUTE_READONLY) makes them.
  FILE_BASIC_INFO info = {};
  info.FileAttributes = FILE_ATTRIBUTE_READONLY;
  if (!SetFileInformationByHandle(H(m_hFile), FileBasicInfo, &info, sizeof info)) return GetLastError();
  return 0;
}

uint32_t FileHandle::TakePermissionsOf(FileHandle& source, bool readOnly) {
  if (!IsOpen() || m_mode == FileMode::Read || !source.IsOpen()) return kInvalidHandle;
  return readOnly ? MarkReadOnly() : 0;
}

uint32_t FileHandle::Identity(FileIdentity* identity) {
  if (!IsOpen()) return kInvalidHandle;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(H(m_hFile), &info)) return GetLastError();
  identity->volume = info.dwVolumeSerialNumber;
  identity->file = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
  return 0;
}

bool FileHandle::Flush() {
  if (!IsOpen()) return false;
  if (const uint32_t fault = InjectedFault(FileCall::Flush, m_mode)) {
    SetLastSystemError(fault);
    return false;
  }
  return FlushFileBuffers(H(m_hFile)) != FALSE;
}

uint32_t FileHandle::Close() {
  if (!IsOpen()) return 0;
  uint32_t status = 0;
  if (m_mode == FileMode::Write && !Flush()) status = GetLastError();
  if (!CloseHandle(H(m_hFile)) && status == 0) status = GetLastError();
  m_hFile = kNoFile;
  return status;
}
