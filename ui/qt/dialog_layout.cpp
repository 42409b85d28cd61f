#include "ui/qt/dialog_layout.h"

#include <QtGui/QFontMetrics>
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

QFont TemplateFont() {
  QFont font;
  font.setFamilies({QStringLiteral("GulimChe"), QStringLiteral("굴림체"), QStringLiteral("NanumGothicCoding"),
                    QStringLiteral("NanumGothic")});
  font.setPointSize(10);
  return font;
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
