#include "desktop/scan_animation.h"

#include "res/pictures/pictures.h"

namespace quarn::window {
namespace {

constexpr int kFrameMilliseconds = 120;

}  // namespace

ScanAnimation::ScanAnimation(QWidget* parent)
    : QLabel(parent), frames_(pictures::AnimationFrames()) {
  setAlignment(Qt::AlignCenter);
  setAttribute(Qt::WA_TranslucentBackground);
  timer_.setInterval(kFrameMilliseconds);
  connect(&timer_, &QTimer::timeout, this, [this] { ShowFrame(frame_ + 1); });
  ShowFrame(0);
}

void ScanAnimation::Play() {
  timer_.start();
}

void ScanAnimation::Stop() {
  timer_.stop();
  ShowFrame(0);
}

void ScanAnimation::resizeEvent(QResizeEvent* event) {
  QLabel::resizeEvent(event);
  ShowFrame(frame_);
}

void ScanAnimation::ShowFrame(int index) {
  if (frames_.empty()) return;
  frame_ = index % static_cast<int>(frames_.size());
  const QPixmap& frame = frames_[frame_];
  // A clip larger than its place is shown whole, smaller.
  const bool too_large = frame.width() > width() || frame.height() > height();
  setPixmap(too_large && !size().isEmpty()
                ? frame.scaled(size(), Qt::KeepAspectRatio, Qt::SmoothTransformation)
                : frame);
}

}  // namespace quarn::window
