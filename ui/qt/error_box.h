#pragma once
// The error notices in Qt: modal, on top of every window, the error icon, the text as
// given (never taken for markup; "\r\n" line breaks shown as line breaks) and one OK
// button. GUI thread only.

#include <QtWidgets/QMessageBox>

#include <memory>
#include <string>

#include "platform/catalog.h"

// The caption of every error box of a job (string 102 of the Windows program), in
// Korean: shown through Tr.
inline const char kJobErrorCaption[] = N_("타르베신 외부암호화파일 뷰어");

// The box, not yet shown.
std::unique_ptr<QMessageBox> MakeErrorBox(const std::string& caption, const std::string& text);

// Shows it and returns when the user has dismissed it.
void ShowErrorBox(const std::string& caption, const std::string& text);

// The same with the information icon: news that is no failure.
void ShowInformationBox(const std::string& caption, const std::string& text);

// The same with the warning icon, owned by parent (a prompt that asks again after it).
void ShowWarningBox(QWidget* parent, const std::string& caption, const std::string& text);
