#include "desktop/window_geometry.h"

namespace quarn::window {
namespace {

// The width the progress bar and the two lower status bars share beside the animation.
int BarWidth(int client_width, int bar_height) {
  return 2 * client_width / 3 - 3 * bar_height;
}

}  // namespace

WindowLayout ComputeWindowLayout(QSize client, int toolbar_height, int bar_height) {
  const int w = client.width();
  const int h = client.height();
  const int t = toolbar_height;
  const int b = bar_height;
  const int top = t + b;
  const int right_x = w / 3;
  const int bars_x = right_x + 3 * b;
  const int bars_width = BarWidth(w, b);
  WindowLayout layout;
  layout.tree = QRect(0, top, w / 3, h - top);
  layout.list = QRect(right_x, top, 2 * w / 3, h - 3 * b - top);
  layout.animation = QRect(right_x, h - 3 * b, 3 * b, 3 * b);
  layout.progress = QRect(bars_x, h - 3 * b, bars_width, b);
  layout.counter_bar = QRect(bars_x, h - 2 * b, bars_width, b);
  layout.path_bar = QRect(bars_x, h - b, bars_width, b);
  // Directly below the toolbar, in the band the tree and the list leave free above them.
  layout.options_bar = QRect(0, t, w, b);
  return layout;
}

std::array<int, 2> PathBarEdges(int client_width, int bar_height) {
  return {BarWidth(client_width, bar_height), kToBarEnd};
}

std::array<int, 3> OptionsBarEdges(int client_width) {
  const int third = client_width / 3;
  return {third, client_width - third / 3, kToBarEnd};
}

std::array<int, 3> CounterBarEdges(int client_width, int bar_height) {
  const int width = BarWidth(client_width, bar_height);
  return {width / 3, 2 * width / 3, kToBarEnd};
}

}  // namespace quarn::window
