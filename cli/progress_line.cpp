#include "cli/progress_line.h"

#include "cli/terminal_text.h"

namespace quarn {
namespace {

constexpr std::string_view kToLineStart = "\r";
constexpr std::string_view kEraseToEnd = "\x1b[K";

}  // namespace

std::string ProgressLine::Compose(std::string_view count_text, std::string_view folder,
                                  size_t columns) {
  constexpr std::string_view kGap = "  ";
  constexpr size_t kShortestFolder = 8;  // "..." and a few characters of its end
  const size_t width = columns > 1 ? columns - 1 : 0;
  std::string text = FitColumns(TerminalSafeText(count_text), width);
  const size_t used = CountColumns(text) + kGap.size();
  if (folder.empty() || used + kShortestFolder > width) return text;
  return text + std::string(kGap) + FitColumnsKeepingEnd(TerminalSafeText(folder), width - used);
}

void ProgressLine::EnterFolder(std::string_view display_path) {
  if (!enabled_) return;
  folders_.emplace_back(display_path);
  Redraw();
}

void ProgressLine::LeaveFolder() {
  if (!enabled_) return;
  if (!folders_.empty()) folders_.pop_back();
}

void ProgressLine::SetCount(std::string_view count_text) {
  if (!enabled_) return;
  count_ = count_text;
  Redraw();
}

void ProgressLine::Clear() {
  if (!shown_) return;
  std::fprintf(err_, "%s%s", kToLineStart.data(), kEraseToEnd.data());
  std::fflush(err_);
  shown_ = false;
  // The next change draws again at once, so the line comes back right after the output
  // that cleared it.
  last_drawn_ = {};
}

void ProgressLine::Redraw() {
  const auto now = std::chrono::steady_clock::now();
  if (shown_ && now - last_drawn_ < kRedrawInterval) return;
  const std::string text =
      Compose(count_, folders_.empty() ? std::string_view() : folders_.back(), columns_);
  std::fprintf(err_, "%s%s%s", kToLineStart.data(), text.c_str(), kEraseToEnd.data());
  std::fflush(err_);
  shown_ = true;
  last_drawn_ = now;
}

}  // namespace quarn
