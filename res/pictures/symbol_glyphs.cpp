// The symbols shared by the toolbar, the lists and the large pictures.
#include <QPainterPath>
#include <QRadialGradient>

#include "res/pictures/canvas.h"
#include "res/pictures/glyphs.h"

namespace quarn::pictures {

GlyphScope::GlyphScope(QPainter& painter, const QRectF& box) : painter_(painter) {
  painter_.save();
  painter_.translate(box.topLeft());
  painter_.scale(box.width() / kIconUnits, box.height() / kIconUnits);
}

GlyphScope::~GlyphScope() {
  painter_.restore();
}

void DrawMagnifier(QPainter& painter, const QRectF& box) {
  GlyphScope scope(painter, box);
  const QPointF lens(13, 13);
  painter.setPen(RoundPen(QColor(0x3a, 0x30, 0x2a), 5));
  painter.drawLine(QPointF(20, 20), QPointF(28, 28));
  painter.setPen(QPen(colors::kOutline, 2.5));
  painter.setBrush(QColor(0xcf, 0xe6, 0xff, 200));
  painter.drawEllipse(lens, 9, 9);
  painter.setPen(RoundPen(QColor(255, 255, 255, 230), 1.8));
  painter.drawArc(QRectF(7.5, 7.5, 11, 11), 100 * 16, 70 * 16);
}

void DrawShield(QPainter& painter, const QRectF& box) {
  GlyphScope scope(painter, box);
  QPainterPath shield;
  shield.moveTo(16, 1);
  shield.cubicTo(21.8, 3.8, 26.2, 4.5, 30, 3.8);
  shield.lineTo(30, 14.4);
  shield.cubicTo(30, 23, 24, 28.2, 16, 31.4);
  shield.cubicTo(8, 28.2, 2, 23, 2, 14.4);
  shield.lineTo(2, 3.8);
  shield.cubicTo(5.8, 4.5, 10.2, 3.8, 16, 1);
  shield.closeSubpath();
  QLinearGradient fill(0, 1, 0, 31);
  fill.setColorAt(0, colors::kShieldTop);
  fill.setColorAt(1, colors::kShieldBottom);
  painter.setPen(QPen(QColor(0x0f, 0x2a, 0x5e), 1.3));
  painter.setBrush(fill);
  painter.drawPath(shield);
  painter.setPen(RoundPen(Qt::white, 3));
  painter.drawPolyline(QPolygonF({{9, 16}, {14, 21}, {23.5, 11}}));
}

void DrawPage(QPainter& painter, const QRectF& box) {
  GlyphScope scope(painter, box);
  painter.setPen(QPen(colors::kOutline, 1.2));
  painter.setBrush(colors::kPaper);
  painter.drawPolygon(QPolygonF({{5.5, 2}, {20.5, 2}, {26.5, 8}, {26.5, 30}, {5.5, 30}}));
  painter.setBrush(colors::kMetal);
  painter.drawPolygon(QPolygonF({{20.5, 2}, {20.5, 8}, {26.5, 8}}));
  painter.setPen(RoundPen(colors::kMetalDark, 1.4));
  for (qreal y = 12; y <= 26; y += 3.5) {
    painter.drawLine(QPointF(9, y), QPointF(y < 24 ? 23 : 17, y));
  }
}

void DrawGlobe(QPainter& painter, const QRectF& box) {
  GlyphScope scope(painter, box);
  const QPointF center(16, 16);
  QRadialGradient sea(QPointF(12, 11), 16);
  sea.setColorAt(0, QColor(0x7c, 0xbc, 0xf4));
  sea.setColorAt(1, QColor(0x1d, 0x5f, 0xb0));
  painter.setPen(QPen(QColor(0x12, 0x3c, 0x78), 1.4));
  painter.setBrush(sea);
  painter.drawEllipse(center, 13, 13);
  QPainterPath inside;
  inside.addEllipse(center, 13, 13);
  painter.setClipPath(inside);
  painter.setPen(QPen(QColor(255, 255, 255, 190), 1.2));
  painter.setBrush(Qt::NoBrush);
  painter.drawEllipse(center, 5.5, 13);
  painter.drawLine(QPointF(16, 3), QPointF(16, 29));
  for (qreal y : {9.0, 16.0, 23.0}) painter.drawLine(QPointF(2, y), QPointF(30, y));
}

void DrawBug(QPainter& painter, const QRectF& box) {
  GlyphScope scope(painter, box);
  painter.setPen(RoundPen(colors::kOutline, 1.6));
  for (int side : {-1, 1}) {
    painter.drawLine(QPointF(16 + side * 7, 13), QPointF(16 + side * 13, 9.5));
    painter.drawLine(QPointF(16 + side * 8, 19), QPointF(16 + side * 14, 19));
    painter.drawLine(QPointF(16 + side * 7, 25), QPointF(16 + side * 13, 29.5));
    painter.drawLine(QPointF(16 + side * 2, 5), QPointF(16 + side * 5, 1.5));
  }
  painter.setBrush(colors::kOutline);
  painter.drawEllipse(QPointF(16, 8), 4.2, 3.8);
  painter.setPen(QPen(colors::kOutline, 1.2));
  painter.setBrush(colors::kAlarm);
  painter.drawEllipse(QPointF(16, 19.5), 8, 10);
  painter.drawLine(QPointF(16, 10), QPointF(16, 29.5));
  painter.setPen(Qt::NoPen);
  painter.setBrush(colors::kOutline);
  for (QPointF spot :
       {QPointF(12.3, 16), QPointF(19.7, 16), QPointF(12.5, 23), QPointF(19.5, 23)}) {
    painter.drawEllipse(spot, 1.8, 1.8);
  }
}

}  // namespace quarn::pictures
