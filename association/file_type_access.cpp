#include "association/file_type_access.h"

#include <shlobj.h>
#include <shlwapi.h>

namespace {

const char kExtension[] = "aqv3";
const char kProgId[] = "TarvessinViewer.Document";

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
  if (RegCreateKeyExA(root, subkey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return FALSE;
  const LONG set = RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                                  static_cast<DWORD>(lstrlenA(data) + 1));
  RegCloseKey(key);
  return set == ERROR_SUCCESS;
}

void RegisterFileType() {
  char path[521] = {};
  GetModuleFileNameA(nullptr, path, 521);
  const std::string quoted = std::string("\"") + path + "\"";
  CGCFileTypeAccess access;
  access.SetExtensionName(kExtension);
  access.SetOpenCommand(quoted + " \"%1\"");
  access.SetProgId(kProgId);
  access.SetIconLocation(quoted + ",0");
  access.WriteAssociation();
  NotifyShell();
}

void UnregisterFileType() {
  SHDeleteKeyA(HKEY_CLASSES_ROOT, ".aqv3");
  SHDeleteKeyA(HKEY_CLASSES_ROOT, kProgId);
  NotifyShell();
}
