#pragma once

#include <QPainter>
#include <QRectF>

// Drawings that more than one group of pictures uses. Each is designed in a kIconUnits
// square and painted into `box` (a square in the painter's current coordinates); the
// painter's state is restored afterwards.
namespace quarn::pictures {

// Devices and places.
void DrawComputer(QPainter& painter, const QRectF& box);
void DrawHardDisk(QPainter& painter, const QRectF& box);
void DrawFloppy(QPainter& painter, const QRectF& box);
void DrawCdRom(QPainter& painter, const QRectF& box);
void DrawNetworkDrive(QPainter& painter, const QRectF& box);
void DrawServer(QPainter& painter, const QRectF& box);
void DrawFolder(QPainter& painter, const QRectF& box, bool open);

// Symbols.
void DrawMagnifier(QPainter& painter, const QRectF& box);
void DrawShield(QPainter& painter, const QRectF& box);
void DrawPage(QPainter& painter, const QRectF& box);
void DrawGlobe(QPainter& painter, const QRectF& box);
void DrawBug(QPainter& painter, const QRectF& box);

// Saves the painter and maps the kIconUnits square onto `box` until it goes out of scope.
class GlyphScope {
 public:
  GlyphScope(QPainter& painter, const QRectF& box);
  ~GlyphScope();
  GlyphScope(const GlyphScope&) = delete;
  GlyphScope& operator=(const GlyphScope&) = delete;

 private:
  QPainter& painter_;
};

}  // namespace quarn::pictures
