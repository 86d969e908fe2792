// The clip played while a scan runs: a magnifier circling over a page.
#include <cmath>
#include <numbers>

#include "res/pictures/canvas.h"
#include "res/pictures/glyphs.h"
#include "res/pictures/pictures.h"

namespace quarn::pictures {
namespace {

constexpr int kFrameCount = 8;
constexpr int kFrameSize = 48;
const QRectF kPageBox(4, 2, 40, 40);
constexpr qreal kMagnifierSize = 26;
// Where the lens sits inside the magnifier's box, so the lens, not the handle, follows the path.
constexpr qreal kLensOffset = kMagnifierSize * 13 / kIconUnits;
const QPointF kSweepCenter(24, 21);
constexpr qreal kSweepWidth = 9;
constexpr qreal kSweepHeight = 7;

QPixmap Frame(int number) {
  const qreal angle = 2 * std::numbers::pi * number / kFrameCount;
  const QPointF lens =
      kSweepCenter + QPointF(kSweepWidth * std::cos(angle), kSweepHeight * std::sin(angle));
  return PaintPicture(QSize(kFrameSize, kFrameSize), [&](QPainter& painter) {
    DrawPage(painter, kPageBox);
    DrawMagnifier(painter, QRectF(lens - QPointF(kLensOffset, kLensOffset),
                                  QSizeF(kMagnifierSize, kMagnifierSize)));
  });
}

}  // namespace

std::vector<QPixmap> AnimationFrames() {
  std::vector<QPixmap> frames;
  frames.reserve(kFrameCount);
  for (int number = 0; number < kFrameCount; ++number) frames.push_back(Frame(number));
  return frames;
}

}  // namespace quarn::pictures
