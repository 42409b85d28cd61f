#pragma once
// Windows only. The program's own resources in the user's language (UserLanguage()):
// the Korean ones, or the English ones (LANG_ENGLISH, SUBLANG_ENGLISH_US), the Korean
// one standing in where an English one is missing. Chosen here rather than by the
// loader's own order, which would give a third language's user whichever came first.

#include <windows.h>

#include <string>

LANGID ResourceLanguage();

// A string of the program's string tables; "" when there is none.
std::wstring ResourceString(UINT id);

// A dialog template of the program, for the indirect dialog calls; null when none.
const DLGTEMPLATE* DialogTemplate(UINT id);
