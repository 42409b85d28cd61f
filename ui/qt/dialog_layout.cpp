#include "ui/qt/dialog_layout.h"

#include <QtCore/QRegularExpression>
#include <QtGui/QFontMetrics>
#include <QtWidgets/QApplication>
#include <QtWidgets/QWidget>

namespace {

int Scale(int units, int base, int divisor) { return (units * base + divisor / 2) / divisor; }

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  // The average width as the Windows dialog manager measures it.
  const int width = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  m_baseX = (width / 26 + 1) / 2;
  m_baseY = metrics.height();
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
  return QRect(Scale(x, m_baseX, 4), Scale(y, m_baseY, 8), Scale(width, m_baseX, 4), Scale(height, m_baseY, 8));
}

QSize DialogUnits::Size(int width, int height) const {
  return QSize(Scale(width, m_baseX, 4), Scale(height, m_baseY, 8));
}

int DialogUnits::X(int units) const { return Scale(units, m_baseX, 4); }

int DialogUnits::Y(int units) const { return Scale(units, m_baseY, 8); }

QFont TemplateFont() {
  // The desktop's font (QApplication's, from the platform theme) gives the size a user
  // chose; the template's 10 points are the least.
  QFont font = QApplication::font();
  const QString desktopFamily = font.family();
  font.setFamilies({QStringLiteral("GulimChe"), QStringLiteral("굴림체"), QStringLiteral("NanumGothicCoding"),
                    QStringLiteral("NanumGothic"), desktopFamily});
  if (font.pointSizeF() < 10) font.setPointSize(10);
  return font;
}

QString WithoutMnemonic(const QString& text) {
  // The CJK form puts the letter in brackets after the word: the brackets go too.
  static const QRegularExpression bracketed(QStringLiteral("\\s*\\(&[^&]\\)"));
  QString plain = text;
  plain.remove(bracketed);
  QString out;
  for (qsizetype i = 0; i < plain.size(); ++i) {
    if (plain[i] == QLatin1Char('&') && i + 1 < plain.size()) ++i;
    out += plain[i];
  }
  return out;
}

QIcon ApplicationIcon() {
  QIcon icon;
  icon.addFile(QStringLiteral(":/tarvessin-viewer-16.png"), QSize(16, 16));
  icon.addFile(QStringLiteral(":/tarvessin-viewer-32.png"), QSize(32, 32));
  return icon;
}

QString FromSystemText(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void SetTemplateFrame(QWidget* window) {
  window->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
}
