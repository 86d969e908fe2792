#pragma once

#include <QLabel>
#include <QPixmap>
#include <QTimer>
#include <vector>

namespace quarn::window {

// The clip played while a scan runs: the frames shown one after another, without end,
// until stopped; the first frame stands still otherwise.
class ScanAnimation : public QLabel {
  Q_OBJECT

 public:
  explicit ScanAnimation(QWidget* parent);

  void Play();
  void Stop();
  bool playing() const { return timer_.isActive(); }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void ShowFrame(int index);

  std::vector<QPixmap> frames_;
  QTimer timer_;
  int frame_ = 0;
};

}  // namespace quarn::window
