#include "association/file_type_access.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <string>

#include "resources/resource.h"
#include "platform/wide_win32.h"

namespace {

const char kExtension[] = "aqv3";
const char kProgId[] = "TarvessinViewer.Document";

// A verb of the file manager's menu: its text (the program's string resource textId, in
// the user's language), icon, and the command that starts the viewer on the files
// selected (Explorer starts it once per file; the runs gather: platform/selection.h).
void WriteVerb(const std::string& key, int textId, const std::string& program, const char* road) {
  const std::string quoted = "\"" + program + "\"";
  const std::string text = "@" + program + ",-" + std::to_string(textId);
  CGCFileTypeAccess::SetStringValue(HKEY_CLASSES_ROOT, key.c_str(), "MUIVerb", text.c_str());
  CGCFileTypeAccess::SetStringValue(HKEY_CLASSES_ROOT, key.c_str(), "MultiSelectModel", "Player");
  CGCFileTypeAccess::SetStringValue(HKEY_CLASSES_ROOT, key.c_str(), "Icon", (quoted + ",0").c_str());
  CGCFileTypeAccess::SetStringValue(HKEY_CLASSES_ROOT, (key + "\\command").c_str(), "",
                                    (quoted + " " + road + " \"%1\"").c_str());
}

void NotifyShell() { SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSHNOWAIT, nullptr, nullptr); }

}  // namespace

void CGCFileTypeAccess::ResetFields() {
  m_strExtension.clear();
  m_strOpenCommand.clear();
  m_strProgId.clear();
  m_strDisplayName.clear();
  m_strIconLocation.clear();
}

BOOL CGCFileTypeAccess::WriteAssociation() {
  WriteExtensionEntry();
  WriteProgIdEntry();
  WriteExtraStep1();
  WriteExtraStep2();
  return TRUE;
}

BOOL CGCFileTypeAccess::WriteExtensionEntry() {
  if (m_strExtension.empty()) return TRUE;
  const std::string key = "." + m_strExtension;
  SetStringValue(HKEY_CLASSES_ROOT, key.c_str(), "", m_strProgId.c_str());
  if (!m_strOpenCommand.empty())
    SetStringValue(HKEY_CLASSES_ROOT, (key + "\\shell\\open\\command").c_str(), "", m_strOpenCommand.c_str());
  return TRUE;
}

BOOL CGCFileTypeAccess::WriteProgIdEntry() {
  if (m_strProgId.empty()) return TRUE;
  SetStringValue(HKEY_CLASSES_ROOT, m_strProgId.c_str(), "", m_strDisplayName.c_str());
  if (!m_strIconLocation.empty())
    SetStringValue(HKEY_CLASSES_ROOT, (m_strProgId + "\\DefaultIcon").c_str(), "", m_strIconLocation.c_str());
  if (!m_strOpenCommand.empty())
    SetStringValue(HKEY_CLASSES_ROOT, (m_strProgId + "\\shell\\open\\command").c_str(), "",
                   m_strOpenCommand.c_str());
  return TRUE;
}

BOOL CGCFileTypeAccess::SetStringValue(HKEY root, const char* subkey, const char* valueName, const char* data) {
  if (!root || !subkey || !*subkey || !valueName || !data) {
    SetLastError(static_cast<DWORD>(0x80070057L));  // E_INVALIDARG
    return FALSE;
  }
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, Wide(subkey).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return FALSE;
  // Written as Unicode: a program path any code page cannot hold (a portable copy under
  // C:\Users\Zoë on a Korean system) is recorded as it is.
  const std::wstring value = Wide(data);
  const LONG set = RegSetValueExW(key, Wide(valueName).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                  static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);
  return set == ERROR_SUCCESS;
}

void RegisterFileType() {
  wchar_t path[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
  const std::string quoted = "\"" + Utf8(path) + "\"";
  CGCFileTypeAccess access;
  access.SetExtensionName(kExtension);
  access.SetOpenCommand(quoted + " \"%1\"");
  access.SetProgId(kProgId);
  access.SetIconLocation(quoted + ",0");
  access.WriteAssociation();
  WriteVerb(kEncryptVerbKey, IDS_ENCRYPT_VERB, Utf8(path), "/Encrypt");
  WriteVerb(kDecryptHereVerbKey, IDS_DECRYPT_HERE_VERB, Utf8(path), "/DecryptHere");
  WriteVerb(kEncryptFolderVerbKey, IDS_ENCRYPT_VERB, Utf8(path), "/Encrypt");
  WriteVerb(kDecryptHereFolderVerbKey, IDS_DECRYPT_HERE_VERB, Utf8(path), "/DecryptHere");
  NotifyShell();
}

void UnregisterFileType() {
  SHDeleteKeyW(HKEY_CLASSES_ROOT, L".aqv3");
  SHDeleteKeyW(HKEY_CLASSES_ROOT, Wide(kProgId).c_str());  // its verbs with it
  for (const char* verb : {kEncryptVerbKey, kEncryptFolderVerbKey, kDecryptHereFolderVerbKey})
    SHDeleteKeyW(HKEY_CLASSES_ROOT, Wide(verb).c_str());
  NotifyShell();
}
