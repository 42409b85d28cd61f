#include "platform/working_folder.h"

#include <windows.h>
#include <shlobj.h>

#include <cstring>

#include "platform/wide_win32.h"

namespace {

const wchar_t kProductKey[] = L"SOFTWARE\\Belmora\\TarvessinKvt";
const wchar_t kProductWindowClass[] = L"Tarvessin";

std::string TemporaryFolder() {
  wchar_t buffer[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
  if (n == 0 || n > MAX_PATH) return std::string();
  return Utf8(buffer, n);
}

// The per-user local (non-roaming) application-data folder, or "" when the shell
// cannot name it. Asked in Unicode: a profile such as C:\Users\Zoë has no name in the
// code page of a Korean system.
std::string LocalAppDataFolder() {
  wchar_t buffer[MAX_PATH + 1] = {};
  const HRESULT hr = SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer);
  if (FAILED(hr)) return std::string();
  buffer[MAX_PATH] = L'\0';
  return Utf8(buffer);
}

}  // namespace

void GetWorkingFolder(size_t length, char* dest) {
  if (dest == nullptr || length == 0) return;
  const std::string localAppData = LocalAppDataFolder();
  const std::string temp = localAppData.empty() ? TemporaryFolder() : std::string();
  CopyWorkingFolder(ComposeWorkingFolder(temp, localAppData, IsProductRunning()), length, dest);
}

bool IsProductRegistered() {
  // The product is a 32-bit program: on 64-bit Windows its installer writes its key into
  // the 32-bit view of HKEY_LOCAL_MACHINE\SOFTWARE. Both builds read that view (a 32-bit
  // process sees it anyway; the flag is ignored on 32-bit Windows).
  const REGSAM view = KEY_WOW64_32KEY;
  HKEY key = nullptr;
  // Only opened, never created: asking whether the product is there must not leave a
  // key of its name behind (which its uninstaller would not remove).
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) return false;
  // Only whether the value can be read counts, not what it says; a value longer than
  // the buffer counts as absent. The product reads it as ANSI text into 260 bytes, so
  // this does too: the one answer it would give.
  BYTE value[260] = {};
  DWORD size = sizeof value;
  const LONG status = RegQueryValueExA(key, "Path", nullptr, nullptr, value, &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

bool IsProductWindowOpen() {
  HWND window = FindWindowW(kProductWindowClass, nullptr);
  if (window == nullptr) return false;
  // The search ignores letter case; the product's own class is spelt exactly so.
  wchar_t name[1024] = {};
  const int n = GetClassNameW(window, name, 1023);
  return n > 3 && std::wcsncmp(name, kProductWindowClass, 9) == 0;
}
