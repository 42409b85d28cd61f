#include "platform/working_folder.h"

#include <windows.h>
#include <shlobj.h>

#include <cstring>

#include "platform/mbstring.h"

namespace {

const char kProductKey[] = "SOFTWARE\\Belmora\\TarvessinKvt";
const char kProductWindowClass[] = "Tarvessin";

std::string TemporaryFolder() {
  char buffer[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathA(sizeof buffer, buffer);
  if (n == 0 || n >= sizeof buffer) return std::string();
  return std::string(buffer, n);
}

// The per-user local (non-roaming) application-data folder, or "" when the shell
// cannot name it.
std::string LocalAppDataFolder() {
  char buffer[521] = {};
  const HRESULT hr = SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer);
  if (FAILED(hr)) return std::string();
  buffer[sizeof buffer - 1] = '\0';
  return std::string(buffer);
}

}  // namespace

void GetWorkingFolder(size_t length, char* dest) {
  if (dest == nullptr || length == 0) return;
  const std::string localAppData = LocalAppDataFolder();
  const std::string temp = localAppData.empty() ? TemporaryFolder() : std::string();
  const std::string path = ComposeWorkingFolder(temp, localAppData, IsProductRunning());
  // Too long a path is cut at a character boundary; dest is always terminated.
  MbsBoundedCopy(dest, path.c_str(), length - 1);
}

bool IsProductRegistered() {
  // The product is a 32-bit program: on 64-bit Windows its installer writes its key into
  // the 32-bit view of HKEY_LOCAL_MACHINE\SOFTWARE. Both builds read that view (a 32-bit
  // process sees it anyway; the flag is ignored on 32-bit Windows).
  const REGSAM view = KEY_WOW64_32KEY;
  HKEY key = nullptr;
  // The create-or-open call creates the key when it is missing and the process may
  // write there; the plain open covers a process that may only read.
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, nullptr, 0, MAXIMUM_ALLOWED | view, nullptr, &key,
                      nullptr) != ERROR_SUCCESS &&
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) {
    return false;
  }
  // Only whether the value can be read counts, not what it says; a value longer than
  // the buffer therefore counts as absent.
  BYTE value[260] = {};
  DWORD size = sizeof value;
  const LONG status = RegQueryValueExA(key, "Path", nullptr, nullptr, value, &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

bool IsProductWindowOpen() {
  HWND window = FindWindowA(kProductWindowClass, nullptr);
  if (window == nullptr) return false;
  // The search ignores letter case; the product's own class is spelt exactly so.
  char name[1024] = {};
  const int n = GetClassNameA(window, name, sizeof name - 1);
  return n > 3 && std::memcmp(name, kProductWindowClass, 9) == 0;
}
