#pragma once

#include <QColor>
#include <QPainter>
#include <QPixmap>
#include <QSize>
#include <functional>

// The pieces every group of pictures is painted with: a transparent canvas at the screen's
// pixel ratio, and the few colours the pictures share so they read as one set.
namespace quarn::pictures {

// Icons are drawn in a square of this many units and scaled to their size, so one drawing
// serves the 16-pixel tree, the 32-pixel toolbar and the large pictures alike.
inline constexpr qreal kIconUnits = 32.0;

// A transparent pixmap of `size` device-independent pixels at the screen's pixel ratio,
// handed to `paint` with antialiasing on, in device-independent pixels.
QPixmap PaintPicture(QSize size, const std::function<void(QPainter&)>& paint);

// A transparent `size` × `size` pixmap whose painter works in a kIconUnits square.
QPixmap PaintIcon(int size, const std::function<void(QPainter&)>& paint);

// A pen of `width` units with round ends and joins.
QPen RoundPen(const QColor& color, qreal width);

namespace colors {
inline const QColor kOutline{0x20, 0x24, 0x2c};
inline const QColor kMetal{0xb8, 0xbe, 0xc6};
inline const QColor kMetalDark{0x70, 0x78, 0x84};
inline const QColor kPaper{0xfb, 0xfb, 0xf6};
inline const QColor kShieldTop{0x3d, 0x7b, 0xe0};
inline const QColor kShieldBottom{0x1b, 0x3f, 0x8f};
inline const QColor kScreen{0x2f, 0x6f, 0xc8};
inline const QColor kFolder{0xf2, 0xc1, 0x4e};
inline const QColor kFolderDark{0xc9, 0x93, 0x1e};
inline const QColor kFloppy{0x2a, 0x3f, 0x7a};
inline const QColor kAlarm{0xd3, 0x2f, 0x2f};
inline const QColor kGo{0x2e, 0x9e, 0x4f};
inline const QColor kWood{0x8d, 0x5a, 0x2b};
}  // namespace colors

}  // namespace quarn::pictures
