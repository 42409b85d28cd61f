#include "platform/lock_file.h"

#include <windows.h>

#include "platform/system_error.h"
#include "platform/wide_win32.h"

namespace {

// A remover holds the file without sharing for a moment; a file it has marked for
// deletion refuses every open until the deletion is done.
constexpr int kAttempts = 200;
constexpr DWORD kPauseMs = 10;

}  // namespace

bool LockFile::Hold(const char* path) {
  Release();
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    // Never through a reparse point: a name that is one is refused, not followed.
    const std::wstring name = Wide(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    HANDLE h = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      m_handle = reinterpret_cast<intptr_t>(h);
      m_path = path;
      return true;
    }
    // A remover's moment (sharing) or a file it has marked for deletion (denied) passes.
    const FileErrorClass error = ClassifyFileError(GetLastError());
    if (error != FileErrorClass::InUse && error != FileErrorClass::Denied) return false;
    Sleep(kPauseMs);
  }
  return false;
}

void LockFile::Release() {
  if (m_handle == kNone) return;
  CloseHandle(reinterpret_cast<HANDLE>(m_handle));
  m_handle = kNone;
  RemoveUnheldLockFile(m_path.c_str());
  m_path.clear();
}

bool IsLockFileHeld(const char* path) {
  HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return false;
  }
  return ClassifyFileError(GetLastError()) == FileErrorClass::InUse;
}

bool RemoveUnheldLockFile(const char* path) {
  // Opening without sharing succeeds only while no one else has the file open, and the
  // file goes when this handle closes: no holder can open it in between.
  HANDLE h = CreateFileW(Wide(path).c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}
