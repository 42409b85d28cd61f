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

bool LockFile::WriteNote(const std::string& text) {
  if (m_handle == kNone) return false;
  HANDLE h = reinterpret_cast<HANDLE>(m_handle);
  LARGE_INTEGER start = {};
  if (!SetFilePointerEx(h, start, nullptr, FILE_BEGIN) || !SetEndOfFile(h)) return false;
  DWORD written = 0;
  if (!text.empty() && (!WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
                        written != text.size()))
    return false;
  return FlushFileBuffers(h) != 0;
}

std::string ReadLockFileNote(const char* path) {
  const std::wstring name = Wide(path);
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
    return std::string();
  HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return std::string();
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0 && text.size() + got <= 65536)
    text.append(buffer, got);
  CloseHandle(h);
  return text;
}

void LockFile::Leave() {
  if (m_handle == kNone) return;
  CloseHandle(reinterpret_cast<HANDLE>(m_handle));
  m_handle = kNone;
  m_path.clear();
}
