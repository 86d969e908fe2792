#include <QDialog>
#include <QPainter>
#include <QTimer>

#include "res/pictures/pictures.h"
#include "desktop/dialogs/dialog_parts.h"
#include "desktop/dialogs/information_dialogs.h"

namespace quarn::tools {
namespace {

// A window that is never exposed gets no paint; it still closes this long after being shown
// rather than holding the program modal for good.
constexpr std::chrono::seconds kUnpaintedGrace(5);

class SplashDialog final : public QDialog {
 public:
  SplashDialog(QWidget* parent, std::chrono::milliseconds hold)
      : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
        picture_(pictures::SplashPicture()),
        hold_(hold) {
    setObjectName(QStringLiteral("splash"));
    setFixedSize(picture_.deviceIndependentSize().toSize());
    for (QTimer* timer : {&hold_timer_, &unpainted_timer_}) {
      timer->setSingleShot(true);
      timer->setTimerType(Qt::PreciseTimer);  // a coarse timer may end the hold early
      connect(timer, &QTimer::timeout, this, [this] { done(kDialogResult); });
    }
  }

  // Escape and the window's close button do nothing: the splash ends by itself.
  void reject() override {}

 protected:
  void showEvent(QShowEvent* event) override {
    QDialog::showEvent(event);
    if (!painted_) unpainted_timer_.start(hold_ + kUnpaintedGrace);
  }

  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawPixmap(rect(), picture_);
    if (!painted_) {
      // Timed from the first paint, so the picture is on the screen for the whole hold, and
      // by a timer rather than a sleep, so the window keeps repainting while it waits.
      painted_ = true;
      unpainted_timer_.stop();
      hold_timer_.start(hold_);
    }
  }

 private:
  QPixmap picture_;
  std::chrono::milliseconds hold_;
  QTimer hold_timer_;
  QTimer unpainted_timer_;
  bool painted_ = false;
};

}  // namespace

void ShowSplash(QWidget* parent, std::chrono::milliseconds hold) {
  SplashDialog splash(parent, hold);
  splash.exec();
}

}  // namespace quarn::tools
