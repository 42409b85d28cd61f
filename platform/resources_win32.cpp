#include "platform/resources_win32.h"

#include "platform/language.h"

namespace {

// RT_STRING and RT_DIALOG, as the wide calls take them (the headers give the narrow forms
// without UNICODE).
LPCWSTR const kStrings = MAKEINTRESOURCEW(6);
LPCWSTR const kDialogs = MAKEINTRESOURCEW(5);

const LANGID kKorean = MAKELANGID(LANG_KOREAN, SUBLANG_DEFAULT);
const LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// The module holding this code: the program, or qv3.dll, each carrying its own texts.
HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

const void* Find(LPCWSTR type, LPCWSTR name) {
  const HMODULE module = ThisModule();
  HRSRC found = FindResourceExW(module, type, name, ResourceLanguage());
  if (!found && ResourceLanguage() != kKorean) found = FindResourceExW(module, type, name, kKorean);
  if (!found) return nullptr;
  const HGLOBAL loaded = LoadResource(module, found);
  return loaded ? LockResource(loaded) : nullptr;
}

}  // namespace

LANGID ResourceLanguage() { return UserLanguage() == Language::Korean ? kKorean : kEnglish; }

std::wstring ResourceString(UINT id) {
  // Strings come in blocks of 16, each a length and that many UTF-16 units.
  const auto* block = static_cast<const WCHAR*>(Find(kStrings, MAKEINTRESOURCEW(id / 16 + 1)));
  if (!block) return L"";
  for (UINT i = 0; i < id % 16; ++i) block += 1 + *block;
  return std::wstring(block + 1, *block);
}

const DLGTEMPLATE* DialogTemplate(UINT id) {
  return static_cast<const DLGTEMPLATE*>(Find(kDialogs, MAKEINTRESOURCEW(id)));
}
