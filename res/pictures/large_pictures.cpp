// The logo, the splash and About pictures and the application icon.
#include <QFont>
#include <QFontMetricsF>
#include <QIcon>
#include <QLinearGradient>

#include "res/pictures/canvas.h"
#include "res/pictures/glyphs.h"
#include "res/pictures/pictures.h"

namespace quarn::pictures {
namespace {

constexpr char kProductName[] = "Quarn Explorer";
constexpr char kProgramVersion[] = "2.0";
const QSize kLogoSize(100, 25);
const QSize kSplashSize(400, 250);
const QSize kAboutSize(320, 120);
constexpr int kIconSizes[] = {16, 24, 32, 48, 64, 128, 256};
constexpr int kSmallestTextSize = 8;

QFont BoldFont(int pixel_size) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(pixel_size);
  font.setBold(true);
  return font;
}

// Draws `text` at `pixel_size`, or smaller when the screen's fonts would make it wider
// than `box`, so the product name is never cut.
void DrawText(QPainter& painter, const QRectF& box, const QString& text, int pixel_size,
              const QColor& color) {
  QFont font = BoldFont(pixel_size);
  while (font.pixelSize() > kSmallestTextSize &&
         QFontMetricsF(font).horizontalAdvance(text) > box.width()) {
    font.setPixelSize(font.pixelSize() - 1);
  }
  painter.setFont(font);
  painter.setPen(color);
  painter.drawText(box, Qt::AlignLeft | Qt::AlignVCenter, text);
}

}  // namespace

QPixmap Logo() {
  return PaintPicture(kLogoSize, [](QPainter& painter) {
    DrawShield(painter, QRectF(1, 1, 23, 23));
    DrawText(painter, QRectF(28, 0, 72, 25), QStringLiteral("Quarn"), 19, colors::kShieldBottom);
  });
}

QPixmap SplashPicture() {
  return PaintPicture(kSplashSize, [](QPainter& painter) {
    QLinearGradient sky(0, 0, 0, kSplashSize.height());
    sky.setColorAt(0, QColor(0x0e, 0x1f, 0x45));
    sky.setColorAt(1, QColor(0x25, 0x5c, 0xb0));
    painter.fillRect(QRectF(QPointF(0, 0), kSplashSize), sky);
    DrawShield(painter, QRectF(20, 55, 130, 130));
    DrawMagnifier(painter, QRectF(100, 130, 70, 70));
    DrawText(painter, QRectF(170, 78, 215, 50), QString::fromLatin1(kProductName), 28, Qt::white);
    DrawText(painter, QRectF(170, 128, 215, 30), QString::fromLatin1(kProgramVersion), 18,
             QColor(0xc8, 0xdc, 0xff));
    painter.setPen(QPen(QColor(0xc8, 0xdc, 0xff), 2));
    painter.drawLine(QPointF(170, 128), QPointF(385, 128));
  });
}

QPixmap AboutPicture() {
  return PaintPicture(kAboutSize, [](QPainter& painter) {
    QLinearGradient band(0, 0, kAboutSize.width(), 0);
    band.setColorAt(0, QColor(0xe8, 0xf0, 0xfc));
    band.setColorAt(1, Qt::white);
    painter.fillRect(QRectF(QPointF(0, 0), kAboutSize), band);
    DrawShield(painter, QRectF(12, 12, 96, 96));
    DrawText(painter, QRectF(118, 30, 195, 40), QString::fromLatin1(kProductName), 24,
             colors::kShieldBottom);
    DrawText(painter, QRectF(118, 66, 200, 24), QString::fromLatin1(kProgramVersion), 16,
             colors::kMetalDark);
  });
}

QIcon ApplicationIcon() {
  QIcon icon;
  for (int size : kIconSizes) {
    icon.addPixmap(PaintIcon(size, [](QPainter& painter) {
      DrawShield(painter, QRectF(0, 0, kIconUnits, kIconUnits));
    }));
  }
  return icon;
}

}  // namespace quarn::pictures
