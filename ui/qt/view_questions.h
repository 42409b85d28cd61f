#pragma once
// The view road's questions on Linux: a type that runs code, a changed or new file in the
// working folder, a file still in use. Message boxes of the system's style: the text as
// given (never markup), buttons with mnemonics, the safe answer on Escape and on closing.
// GUI thread only.

#include <functional>
#include <memory>
#include <string>

#include <QtWidgets/QMessageBox>

#include "ui/viewer_front_end.h"

// Each question, not yet shown (for tests and screenshots), and shown.
std::unique_ptr<QMessageBox> MakeDangerousTypeQuestion(const std::string& name, const std::string& typeName);
bool AskOpenDangerousType(const std::string& name, const std::string& typeName);

std::unique_ptr<QMessageBox> MakeEditQuestion(const std::string& name, const std::string& container, bool changed,
                                              bool canSaveBack);
EditChoice AskAboutEditedFile(const std::string& name, const std::string& container, bool changed,
                              bool canSaveBack);

std::unique_ptr<QMessageBox> MakeInUseNotice(const std::string& name);
InUseAnswer ShowInUseNotice(const std::string& name, const std::function<bool()>& released);
