#pragma once

#include <QIcon>
#include <QPixmap>
#include <vector>

// The program's pictures, painted in code so the repository holds no binary images and the
// pictures scale with the screen's pixel ratio.
namespace quarn::pictures {

// The toolbar's images, 32 × 32, in the order of its buttons: Scan, Stop, Options, Print,
// Floppy Disk Boot Fix, Scheduler, View log, Virus encyclopedia, Online update, About, Exit.
inline constexpr int kToolbarImageCount = 11;
QPixmap ToolbarImage(int index);

// The drive tree's images, 16 × 16: computer, hard disk, open folder, closed folder, floppy,
// CD-ROM, network drive, network (globe), domain or workgroup, server.
inline constexpr int kTreeImageCount = 10;
QPixmap TreeImage(int index);

// The result list's icons, 16 × 16: computer, hard disk, blank, virus, floppy, CD-ROM,
// network drive.
inline constexpr int kListImageCount = 7;
QPixmap ListImage(int index);

QPixmap Logo();           // 100 × 25, on the toolbar
QPixmap SplashPicture();  // shown while the main window is built
QPixmap AboutPicture();   // the About box's picture
QIcon ApplicationIcon();  // the window's and the desktop entry's icon

// The frames of the clip played while a scan runs, in order, all of one size.
std::vector<QPixmap> AnimationFrames();

}  // namespace quarn::pictures
