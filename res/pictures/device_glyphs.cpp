// The devices and places of the drive tree and the result list.
#include <QLinearGradient>
#include <QPainterPath>

#include "res/pictures/canvas.h"
#include "res/pictures/glyphs.h"

namespace quarn::pictures {
namespace {

QLinearGradient VerticalMetal(qreal top, qreal bottom) {
  QLinearGradient gradient(0, top, 0, bottom);
  gradient.setColorAt(0, colors::kMetal.lighter(125));
  gradient.setColorAt(1, colors::kMetal.darker(115));
  return gradient;
}

void DrawLed(QPainter& painter, QPointF center) {
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x3c, 0xd0, 0x5a));
  painter.drawEllipse(center, 1.6, 1.6);
}

// The flat box of a disk drive, seen from the front, between `top` and `bottom`.
void DrawDriveBox(QPainter& painter, qreal top, qreal bottom) {
  painter.setPen(QPen(colors::kOutline, 1.2));
  painter.setBrush(VerticalMetal(top, bottom));
  painter.drawRoundedRect(QRectF(3, top, 26, bottom - top), 3, 3);
  const qreal slot_y = bottom - (bottom - top) * 0.35;
  painter.setPen(RoundPen(colors::kMetalDark, 1.5));
  painter.drawLine(QPointF(7, slot_y), QPointF(18, slot_y));
  DrawLed(painter, QPointF(24, slot_y));
}

}  // namespace

void DrawComputer(QPainter& painter, const QRectF& box) {
  GlyphScope scope(painter, box);
  painter.setPen(QPen(colors::kOutline, 1.2));
  painter.setBrush(colors::kMetal);
  painter.drawPolygon(QPolygonF({{13, 22}, {19, 22}, {20.5, 26.5}, {11.5, 26.5}}));
  painter.drawRoundedRect(QRectF(7, 26, 18, 3.5), 1.5, 1.5);
  painter.setBrush(VerticalMetal(3, 23));
  painter.drawRoundedRect(QRectF(2.5, 3, 27, 20), 2.5, 2.5);
  QLinearGradient screen(6, 6, 26, 20);
  screen.setColorAt(0, colors::kScreen.lighter(140));
  screen.setColorAt(1, colors::kScreen.darker(120));
  painter.setBrush(screen);
  painter.drawRect(QRectF(5.5, 6, 21, 14));
}

void DrawHardDisk(QPainter& painter, const QRectF& box) {
  GlyphScope scope(painter, box);
  DrawDriveBox(painter, 9, 24);
}

void DrawNetworkDrive(QPainter& painter, const QRectF& box) {
  GlyphScope scope(painter, box);
  DrawDriveBox(painter, 3, 18);
  painter.setPen(RoundPen(colors::kOutline, 2));
  painter.drawLine(QPointF(16, 18), QPointF(16, 27));
  painter.drawLine(QPointF(4, 27), QPointF(28, 27));
  painter.setBrush(colors::kGo);
  painter.setPen(QPen(colors::kOutline, 1));
  painter.drawRect(QRectF(13, 24.5, 6, 5));
}

void DrawFloppy(QPainter& painter, const QRectF& box) {
  GlyphScope scope(painter, box);
  painter.setPen(QPen(colors::kOutline, 1.2));
  painter.setBrush(colors::kFloppy);
  painter.drawPolygon(QPolygonF({{3.5, 3.5}, {25, 3.5}, {28.5, 7}, {28.5, 28.5}, {3.5, 28.5}}));
  painter.setBrush(colors::kMetal);
  painter.drawRect(QRectF(9.5, 3.5, 13, 9));
  painter.setPen(Qt::NoPen);
  painter.setBrush(colors::kFloppy);
  painter.drawRect(QRectF(17, 5.5, 3, 5));
  painter.setPen(QPen(colors::kOutline, 1));
  painter.setBrush(colors::kPaper);
  painter.drawRect(QRectF(7.5, 16.5, 17, 12));
  painter.setPen(RoundPen(colors::kMetalDark, 1.2));
  painter.drawLine(QPointF(10, 20.5), QPointF(22, 20.5));
  painter.drawLine(QPointF(10, 24), QPointF(19, 24));
}

void DrawCdRom(QPainter& painter, const QRectF& box) {
  GlyphScope scope(painter, box);
  const QPointF center(16, 16);
  QPainterPath disc;
  disc.addEllipse(center, 13.5, 13.5);
  disc.addEllipse(center, 2.5, 2.5);  // the hole stays transparent: odd-even fill
  QConicalGradient shine(center, 45);
  shine.setColorAt(0.0, QColor(0xe8, 0xea, 0xee));
  shine.setColorAt(0.15, QColor(0xa8, 0xd8, 0xf0));
  shine.setColorAt(0.3, QColor(0xd0, 0xd4, 0xda));
  shine.setColorAt(0.55, QColor(0xf0, 0xc8, 0xe8));
  shine.setColorAt(0.75, QColor(0xc8, 0xcc, 0xd4));
  shine.setColorAt(1.0, QColor(0xe8, 0xea, 0xee));
  painter.setPen(QPen(colors::kMetalDark, 1.2));
  painter.setBrush(shine);
  painter.drawPath(disc);
  painter.setBrush(Qt::NoBrush);
  painter.drawEllipse(center, 5.5, 5.5);
}

void DrawServer(QPainter& painter, const QRectF& box) {
  GlyphScope scope(painter, box);
  painter.setPen(QPen(colors::kOutline, 1.2));
  painter.setBrush(VerticalMetal(2, 30));
  painter.drawRoundedRect(QRectF(8.5, 2, 15, 28), 2, 2);
  painter.setBrush(colors::kMetalDark);
  painter.drawRect(QRectF(11.5, 5.5, 9, 3));
  painter.drawRect(QRectF(11.5, 10.5, 9, 3));
  painter.setPen(RoundPen(colors::kMetalDark, 1));
  for (qreal y = 17; y <= 21; y += 2) painter.drawLine(QPointF(11.5, y), QPointF(20.5, y));
  DrawLed(painter, QPointF(16, 26));
}

void DrawFolder(QPainter& painter, const QRectF& box, bool open) {
  GlyphScope scope(painter, box);
  painter.setPen(QPen(colors::kFolderDark.darker(130), 1.2));
  painter.setBrush(colors::kFolderDark);
  painter.drawPolygon(QPolygonF({{3, 27}, {3, 7}, {11, 7}, {13.5, 10}, {28, 10}, {28, 27}}));
  if (!open) {
    painter.setBrush(colors::kFolder);
    painter.drawRoundedRect(QRectF(3, 12, 25, 15), 1.5, 1.5);
    return;
  }
  painter.setBrush(colors::kPaper);
  painter.drawRect(QRectF(6.5, 8.5, 17, 12));
  painter.setBrush(colors::kFolder.lighter(110));
  painter.drawPolygon(QPolygonF({{7, 14}, {31, 14}, {27, 27}, {3, 27}}));
}

}  // namespace quarn::pictures
