#pragma once
// Windows only. The view road's questions: a type that runs code, a changed or new file
// in the working folder, a file still in use. Task dialogs of the system's own style
// (common controls 6): the text as given, buttons with mnemonics, the safe answer on
// Escape and on closing, no owner window.

#include <functional>
#include <string>

#include "ui/viewer_front_end.h"

// The buttons' identifiers, for the window tests that press them: apart from every
// control of the other windows (resources/resource.h), so that a window is told by one.
enum ViewQuestionButton {
  kButtonOpen = 2001,
  kButtonDoNotOpen = 2002,
  kButtonSaveBack = 2003,
  kButtonKeepBeside = 2004,
  kButtonDiscard = 2005,
  kButtonDeleteNow = 2006,
  kButtonKeepWaiting = 2007,
};

bool AskOpenDangerousType(const std::string& name, const std::string& typeName);
EditChoice AskAboutEditedFile(const std::string& name, const std::string& container, bool changed,
                              bool canSaveBack);
InUseAnswer ShowInUseNotice(const std::string& name, const std::function<bool()>& released);
