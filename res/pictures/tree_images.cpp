// The drive tree's and the result list's small images.
#include <array>

#include "res/pictures/canvas.h"
#include "res/pictures/glyphs.h"
#include "res/pictures/pictures.h"

namespace quarn::pictures {
namespace {

constexpr int kSmallImageSize = 16;
const QRectF kWholeIcon(0, 0, kIconUnits, kIconUnits);

void DrawDomain(QPainter& painter) {
  painter.setPen(QPen(colors::kOutline, 1.5));
  painter.drawLine(QPointF(16, 10), QPointF(7, 24));
  painter.drawLine(QPointF(16, 10), QPointF(25, 24));
  painter.drawLine(QPointF(7, 24), QPointF(25, 24));
  DrawComputer(painter, QRectF(8.5, 0, 15, 15));
  DrawComputer(painter, QRectF(0, 16, 15, 15));
  DrawComputer(painter, QRectF(17, 16, 15, 15));
}

using Drawing = void (*)(QPainter&);

// Tree and list share their device pictures, so a drive looks the same in both.
const std::array<Drawing, kTreeImageCount> kTreeDrawings = {
    [](QPainter& p) { DrawComputer(p, kWholeIcon); },
    [](QPainter& p) { DrawHardDisk(p, kWholeIcon); },
    [](QPainter& p) { DrawFolder(p, kWholeIcon, true); },
    [](QPainter& p) { DrawFolder(p, kWholeIcon, false); },
    [](QPainter& p) { DrawFloppy(p, kWholeIcon); },
    [](QPainter& p) { DrawCdRom(p, kWholeIcon); },
    [](QPainter& p) { DrawNetworkDrive(p, kWholeIcon); },
    [](QPainter& p) { DrawGlobe(p, kWholeIcon); },
    DrawDomain,
    [](QPainter& p) { DrawServer(p, kWholeIcon); },
};

// The blank icon leaves lines without a device or a virus unmarked: it stays transparent.
const std::array<Drawing, kListImageCount> kListDrawings = {
    [](QPainter& p) { DrawComputer(p, kWholeIcon); },
    [](QPainter& p) { DrawHardDisk(p, kWholeIcon); },
    [](QPainter&) {},
    [](QPainter& p) { DrawBug(p, kWholeIcon); },
    [](QPainter& p) { DrawFloppy(p, kWholeIcon); },
    [](QPainter& p) { DrawCdRom(p, kWholeIcon); },
    [](QPainter& p) { DrawNetworkDrive(p, kWholeIcon); },
};

}  // namespace

QPixmap TreeImage(int index) {
  if (index < 0 || index >= kTreeImageCount) return QPixmap();
  return PaintIcon(kSmallImageSize, kTreeDrawings[index]);
}

QPixmap ListImage(int index) {
  if (index < 0 || index >= kListImageCount) return QPixmap();
  return PaintIcon(kSmallImageSize, kListDrawings[index]);
}

}  // namespace quarn::pictures
