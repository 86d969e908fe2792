#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace quarn {

// The line at the foot of the terminal that shows the scan moving: the files counted and the
// folder being walked, redrawn in place at most every kRedrawInterval and cleared before any
// other output and at the end. It draws nothing unless enabled, which quarnscan does only
// when standard error is a terminal, so logs and pipes never see it.
class ProgressLine {
 public:
  static constexpr std::chrono::milliseconds kRedrawInterval{100};

  // `err` is not owned. `columns` is the terminal's width; the line stays one shorter, so
  // it never wraps.
  ProgressLine(std::FILE* err, bool enabled, size_t columns)
      : err_(err), enabled_(enabled), columns_(columns) {}

  void EnterFolder(std::string_view display_path);
  void LeaveFolder();
  // The status text of the files counted ("File Totali: 12").
  void SetCount(std::string_view count_text);
  void Clear();

  // The text drawn: the count, two blanks and the folder, made safe and cut to fit: a
  // folder too long keeps its end, one with no room left is left out.
  static std::string Compose(std::string_view count_text, std::string_view folder, size_t columns);

 private:
  void Redraw();

  std::FILE* err_;
  bool enabled_;
  size_t columns_;
  std::vector<std::string> folders_;
  std::string count_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_drawn_{};
};

}  // namespace quarn
