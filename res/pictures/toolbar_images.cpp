// The toolbar's images, one drawing per button, in the buttons' order.
#include <QPainterPath>
#include <QTransform>
#include <array>
#include <cmath>
#include <numbers>

#include "res/pictures/canvas.h"
#include "res/pictures/glyphs.h"
#include "res/pictures/pictures.h"

namespace quarn::pictures {
namespace {

constexpr int kToolbarImageSize = 32;
const QRectF kWholeIcon(0, 0, kIconUnits, kIconUnits);

QPolygonF RegularPolygon(QPointF center, qreal radius, int corners, qreal first_angle) {
  QPolygonF polygon;
  for (int i = 0; i < corners; ++i) {
    const qreal angle = first_angle + 2 * std::numbers::pi * i / corners;
    polygon << center + QPointF(radius * std::cos(angle), radius * std::sin(angle));
  }
  return polygon;
}

// A gear with `teeth` teeth between `inner` and `outer` radius, and a hole in the middle.
QPainterPath Gear(QPointF center, qreal outer, qreal inner, int teeth) {
  QPolygonF rim;
  const qreal step = 2 * std::numbers::pi / teeth;
  for (int i = 0; i < teeth; ++i) {
    for (auto [fraction, radius] : {std::pair{0.0, inner}, std::pair{0.15, outer},
                                    std::pair{0.5, outer}, std::pair{0.65, inner}}) {
      const qreal angle = step * (i + fraction);
      rim << center + QPointF(radius * std::cos(angle), radius * std::sin(angle));
    }
  }
  QPainterPath gear;
  gear.addPolygon(rim);
  gear.closeSubpath();
  gear.addEllipse(center, inner * 0.4, inner * 0.4);
  return gear;
}

void DrawScan(QPainter& painter) {
  DrawMagnifier(painter, kWholeIcon);
}

void DrawStop(QPainter& painter) {
  const qreal eighth = std::numbers::pi / 8;
  painter.setPen(QPen(colors::kOutline, 1));
  painter.setBrush(colors::kAlarm);
  painter.drawPolygon(RegularPolygon({16, 16}, 15, 8, eighth));
  painter.setPen(QPen(Qt::white, 1.5));
  painter.setBrush(Qt::NoBrush);
  painter.drawPolygon(RegularPolygon({16, 16}, 12.5, 8, eighth));
  painter.setPen(Qt::NoPen);
  painter.setBrush(Qt::white);
  painter.drawRoundedRect(QRectF(8, 13.5, 16, 5), 1.5, 1.5);
}

void DrawOptions(QPainter& painter) {
  painter.setPen(QPen(colors::kOutline, 1));
  painter.setBrush(colors::kMetal);
  painter.drawPath(Gear({12.5, 12.5}, 11, 8, 8));
  painter.setBrush(colors::kMetalDark.lighter(130));
  painter.drawPath(Gear({23.5, 23.5}, 7.5, 5.3, 6));
}

void DrawPrint(QPainter& painter) {
  painter.setPen(QPen(colors::kOutline, 1.2));
  painter.setBrush(colors::kPaper);
  painter.drawRect(QRectF(9, 3, 14, 10));
  painter.setBrush(colors::kMetal);
  painter.drawRoundedRect(QRectF(2.5, 11, 27, 12), 2.5, 2.5);
  painter.setBrush(colors::kPaper);
  painter.drawRect(QRectF(8, 19, 16, 11));
  painter.setPen(RoundPen(colors::kMetalDark, 1.2));
  painter.drawLine(QPointF(11, 23), QPointF(21, 23));
  painter.drawLine(QPointF(11, 26.5), QPointF(18, 26.5));
  painter.setPen(Qt::NoPen);
  painter.setBrush(colors::kGo);
  painter.drawEllipse(QPointF(25.5, 15), 1.5, 1.5);
}

void DrawFloppyFix(QPainter& painter) {
  DrawFloppy(painter, QRectF(0, 0, 25, 25));
  QPainterPath head;
  head.addEllipse(QPointF(25, 18), 5.5, 5.5);
  QPainterPath jaw;
  jaw.addRect(QRectF(-2, -6, 4, 8));
  head = head.subtracted(QTransform().translate(25, 18).rotate(45).map(jaw));
  painter.setPen(RoundPen(colors::kOutline, 6.5));
  painter.drawLine(QPointF(12, 30), QPointF(22, 21));
  painter.setPen(RoundPen(colors::kMetal, 4));
  painter.drawLine(QPointF(12, 30), QPointF(22, 21));
  painter.setPen(QPen(colors::kOutline, 1.2));
  painter.setBrush(colors::kMetal);
  painter.drawPath(head);
}

void DrawScheduler(QPainter& painter) {
  painter.setPen(QPen(colors::kOutline, 1.2));
  painter.setBrush(colors::kPaper);
  painter.drawRect(QRectF(2.5, 5, 21, 21));
  painter.setBrush(colors::kAlarm);
  painter.drawRect(QRectF(2.5, 5, 21, 5));
  painter.setPen(Qt::NoPen);
  painter.setBrush(colors::kMetalDark);
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 4; ++column) {
      painter.drawRect(QRectF(5 + column * 4.5, 13 + row * 4, 2.5, 2.5));
    }
  }
  painter.setPen(QPen(colors::kOutline, 1.2));
  painter.setBrush(Qt::white);
  painter.drawEllipse(QPointF(22, 22), 8.5, 8.5);
  painter.setPen(RoundPen(colors::kOutline, 1.6));
  painter.drawLine(QPointF(22, 22), QPointF(22, 16));
  painter.drawLine(QPointF(22, 22), QPointF(26.5, 22));
}

void DrawViewLog(QPainter& painter) {
  DrawPage(painter, kWholeIcon);
}

void DrawEncyclopedia(QPainter& painter) {
  const QColor cover(0x7a, 0x1f, 0x2b);
  painter.setPen(QPen(colors::kOutline, 1.2));
  painter.setBrush(colors::kPaper);
  painter.drawRect(QRectF(7, 24, 21, 5));
  painter.setBrush(cover);
  painter.drawRect(QRectF(7, 2.5, 21, 22));
  painter.setBrush(cover.darker(140));
  painter.drawRect(QRectF(4, 2.5, 4, 27));
  DrawBug(painter, QRectF(12, 7, 12, 12));
}

void DrawOnlineUpdate(QPainter& painter) {
  DrawGlobe(painter, QRectF(0, 0, 26, 26));
  painter.setPen(QPen(colors::kOutline, 1.1));
  painter.setBrush(colors::kGo);
  painter.drawPolygon(
      QPolygonF({{22, 13}, {28, 13}, {28, 22}, {31.5, 22}, {25, 30.5}, {18.5, 22}, {22, 22}}));
}

void DrawAbout(QPainter& painter) {
  QLinearGradient fill(0, 2, 0, 30);
  fill.setColorAt(0, colors::kShieldTop);
  fill.setColorAt(1, colors::kShieldBottom);
  painter.setPen(QPen(colors::kOutline, 1));
  painter.setBrush(fill);
  painter.drawEllipse(QPointF(16, 16), 14, 14);
  painter.setPen(Qt::NoPen);
  painter.setBrush(Qt::white);
  painter.drawEllipse(QPointF(16, 9), 2.4, 2.4);
  painter.drawRoundedRect(QRectF(14, 13, 4, 12), 1.2, 1.2);
}

void DrawExit(QPainter& painter) {
  painter.setPen(QPen(colors::kOutline, 1.2));
  painter.setBrush(QColor(0x30, 0x30, 0x38));
  painter.drawRect(QRectF(4, 3, 15, 26));
  painter.setBrush(colors::kWood);
  painter.drawPolygon(QPolygonF({{4, 3}, {12, 6}, {12, 31}, {4, 29}}));
  painter.setPen(QPen(colors::kOutline, 1.1));
  painter.setBrush(colors::kGo);
  painter.drawPolygon(
      QPolygonF({{14, 13}, {22, 13}, {22, 8.5}, {30.5, 16}, {22, 23.5}, {22, 19}, {14, 19}}));
}

using Drawing = void (*)(QPainter&);
constexpr std::array<Drawing, kToolbarImageCount> kDrawings = {
    DrawScan,    DrawStop,         DrawOptions,      DrawPrint, DrawFloppyFix, DrawScheduler,
    DrawViewLog, DrawEncyclopedia, DrawOnlineUpdate, DrawAbout, DrawExit};

}  // namespace

QPixmap ToolbarImage(int index) {
  if (index < 0 || index >= kToolbarImageCount) return QPixmap();
  return PaintIcon(kToolbarImageSize, kDrawings[index]);
}

}  // namespace quarn::pictures
