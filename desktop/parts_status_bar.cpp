#include "desktop/parts_status_bar.h"

#include <algorithm>

#include "desktop/window_geometry.h"

namespace quarn::window {

PartsStatusBar::PartsStatusBar(int part_count, QWidget* parent) : QFrame(parent) {
  for (int i = 0; i < part_count; ++i) {
    auto* part = new QLabel(this);
    part->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    part->setTextFormat(Qt::PlainText);
    part->setIndent(2);
    parts_.push_back(part);
  }
}

void PartsStatusBar::SetEdges(std::span<const int> edges) {
  edges_.assign(edges.begin(), edges.end());
  PlaceParts();
}

void PartsStatusBar::SetText(int part, const QString& text) {
  if (part < 0 || part >= part_count()) return;
  parts_[part]->setText(text);
}

QString PartsStatusBar::Text(int part) const {
  if (part < 0 || part >= part_count()) return {};
  return parts_[part]->text();
}

QRect PartsStatusBar::PartGeometry(int part) const {
  if (part < 0 || part >= part_count()) return {};
  return parts_[part]->geometry();
}

QSize PartsStatusBar::sizeHint() const {
  return QSize(200, fontMetrics().height() + 6);
}

void PartsStatusBar::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  PlaceParts();
}

void PartsStatusBar::PlaceParts() {
  int left = 0;
  for (size_t i = 0; i < parts_.size(); ++i) {
    int right = i < edges_.size() ? edges_[i] : left;
    if (right == kToBarEnd) right = width();
    right = std::clamp(right, left, std::max(left, width()));
    parts_[i]->setGeometry(left, 0, right - left, height());
    left = right;
  }
}

}  // namespace quarn::window
