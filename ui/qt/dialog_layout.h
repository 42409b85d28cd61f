#pragma once
// The Qt windows are laid out from the same templates as the Windows ones: positions and
// sizes in dialog units, which scale with the dialog's font (a horizontal unit is a
// quarter of its average character width, a vertical one an eighth of its height).

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

 private:
  int m_baseX, m_baseY;
};

// The templates' font, "굴림체" 10 point, or the closest a Linux desktop has (a Korean
// monospaced face first).
QFont TemplateFont();

// The application icon (the Windows program's icon 128).
QIcon ApplicationIcon();

// Text in the system's multibyte code page (UTF-8 here), and back.
QString FromSystemText(const std::string& text);

// The dialogs' frame: a title and no system menu or close box, as in the templates.
void SetTemplateFrame(QWidget* window);
