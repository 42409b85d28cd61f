#pragma once
// The Qt windows keep the look of the Windows templates but are laid out by Qt's layouts
// from their texts' measured sizes, so no text is ever cut, in any language or at any
// font size: the templates' margins, gaps and least sizes are given in dialog units, which
// scale with the dialog's font (a horizontal unit is a quarter of its average character
// width, a vertical one an eighth of its height).
//
// For assistive technology and the keyboard every window keeps these rules (new windows
// too): each field is its label's buddy, the label carrying a mnemonic ("암호(&P)"); every
// focusable widget has an accessible name (a label's text without its mnemonic,
// WithoutMnemonic) and a description; the tab order is the reading order; Enter presses
// the default button and Escape cancels; a text from outside (a file name) is plain text,
// never markup or a mnemonic; the window takes the desktop's palette, style and font size.

#include <QtGui/QFont>
#include <QtGui/QIcon>
#include <QtCore/QRect>
#include <QtCore/QString>

#include <string>

class QWidget;

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  QRect Rect(int x, int y, int width, int height) const;
  QSize Size(int width, int height) const;
  int X(int units) const;
  int Y(int units) const;

 private:
  int m_baseX, m_baseY;
};

// The templates' font, "굴림체" 10 point, or the closest a Linux desktop has (a Korean
// monospaced face first, then the desktop's own); larger when the desktop's font is.
QFont TemplateFont();

// A label's text as a screen reader says it, without its mnemonic: "암호(&P)" is "암호",
// "Co&nfirm" "Confirm", "&&" an "&".
QString WithoutMnemonic(const QString& text);

// The application icon (the Windows program's icon 128).
QIcon ApplicationIcon();

// Text in the system's multibyte code page (UTF-8 here), and back.
QString FromSystemText(const std::string& text);

// The dialogs' frame: a title and no system menu or close box, as in the templates.
void SetTemplateFrame(QWidget* window);
