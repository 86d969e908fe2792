#pragma once

#include <QRect>
#include <QSize>
#include <array>

namespace quarn::window {

// Where the main window's children go for a client area, a toolbar of `toolbar_height`
// (as the toolbar sized itself) and status bars of `bar_height`: the tree takes the left
// third below the options bar, the list the rest above the progress bar and the two lower
// status bars, with the animation to their left. All divisions are integer divisions.
struct WindowLayout {
  QRect tree;
  QRect list;
  QRect animation;
  QRect progress;
  QRect counter_bar;
  QRect path_bar;
  QRect options_bar;
};
WindowLayout ComputeWindowLayout(QSize client, int toolbar_height, int bar_height);

// The right edges of a status bar's parts, in the bar's own coordinates; the last part
// always runs to the bar's end (kToBarEnd).
inline constexpr int kToBarEnd = -1;
std::array<int, 2> PathBarEdges(int client_width, int bar_height);
std::array<int, 3> OptionsBarEdges(int client_width);
std::array<int, 3> CounterBarEdges(int client_width, int bar_height);

}  // namespace quarn::window
