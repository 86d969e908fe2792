#include "res/pictures/canvas.h"

#include <QGuiApplication>

namespace quarn::pictures {
namespace {

qreal ScreenPixelRatio() {
  // Without an application there is no screen to ask; one pixel per pixel is then right.
  return qGuiApp != nullptr ? qGuiApp->devicePixelRatio() : 1.0;
}

}  // namespace

QPixmap PaintPicture(QSize size, const std::function<void(QPainter&)>& paint) {
  const qreal ratio = ScreenPixelRatio();
  QPixmap pixmap(size * ratio);
  pixmap.setDevicePixelRatio(ratio);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);
  paint(painter);
  return pixmap;
}

QPixmap PaintIcon(int size, const std::function<void(QPainter&)>& paint) {
  return PaintPicture(QSize(size, size), [&](QPainter& painter) {
    painter.scale(size / kIconUnits, size / kIconUnits);
    paint(painter);
  });
}

QPen RoundPen(const QColor& color, qreal width) {
  return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

}  // namespace quarn::pictures
