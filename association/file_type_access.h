#pragma once
// Windows only. Records the desktop's association of a file extension with a program
// under HKEY_CLASSES_ROOT: filled with texts, then asked to write them.

#include <windows.h>

#include <string>

class CGCFileTypeAccess {
 public:
  static constexpr const char* kRuntimeClassName = "CGCFileTypeAccess";

  CGCFileTypeAccess() = default;
  virtual ~CGCFileTypeAccess() = default;

  void SetExtensionName(const std::string& text) { m_strExtension = text; }
  void SetOpenCommand(const std::string& text) { m_strOpenCommand = text; }
  void SetProgId(const std::string& text) { m_strProgId = text; }
  void SetIconLocation(const std::string& text) { m_strIconLocation = text; }

  virtual void ResetFields();
  // The four steps in order, through the virtual table; always TRUE.
  virtual BOOL WriteAssociation();
  // ".ext" = ProgID, ".ext\shell\open\command" = open command. Always TRUE.
  virtual BOOL WriteExtensionEntry();
  // ProgID = display name, "\DefaultIcon" = icon, "\shell\open\command" = open command.
  virtual BOOL WriteProgIdEntry();
  virtual BOOL WriteExtraStep1() { return TRUE; }
  virtual BOOL WriteExtraStep2() { return TRUE; }

  // Creates or opens root\subkey and sets one REG_SZ value (terminator included), the
  // texts given as UTF-8 and written as Unicode. FALSE
  // with last error E_INVALIDARG for a null root, an empty subkey or null texts; FALSE
  // when the registry refuses.
  static BOOL SetStringValue(HKEY root, const char* subkey, const char* valueName, const char* data);

 protected:
  std::string m_strExtension;    // without the dot
  std::string m_strOpenCommand;
  std::string m_strProgId;
  std::string m_strDisplayName;  // no setter: stays empty
  std::string m_strIconLocation;
};

// The file manager's verbs the association adds (keys under HKEY_CLASSES_ROOT): on
// every file and every folder, "암호 파일로 만들기…" (/Encrypt); on the container type,
// beside open, and on every folder, "여기에 풀기" (/DecryptHere). Each has its text
// (MUIVerb, naming the program's string resource), an icon, MultiSelectModel "Player"
// and a command starting the viewer on the selection.
inline const char kEncryptVerbKey[] = "*\\shell\\TarvessinViewer.Encrypt";
inline const char kDecryptHereVerbKey[] = "TarvessinViewer.Document\\shell\\DecryptHere";
inline const char kEncryptFolderVerbKey[] = "Directory\\shell\\TarvessinViewer.Encrypt";
inline const char kDecryptHereFolderVerbKey[] = "Directory\\shell\\TarvessinViewer.DecryptHere";

// "/RegServer": ".aqv3" → "TarvessinViewer.Document", opened by this program; then the
// four verbs.
void RegisterFileType();
// "/UnRegServer": deletes both keys with their subkeys (the container type's verb with
// them), and the verbs on every file and every folder.
void UnregisterFileType();
