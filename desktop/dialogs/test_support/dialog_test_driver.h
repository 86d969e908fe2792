#pragma once

// For the dialogs' tests: drives modal dialogs and message boxes from timers, since their
// exec() does not return until they close.

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <functional>

namespace quarn::tools::testing {

inline constexpr int kPollIntervalMs = 10;
inline constexpr int kMaxPolls = 500;

// Calls `step` with the next modal widget to come up other than `previous`. A dialog the
// step leaves open is rejected afterwards, so a failing step cannot hang the test.
inline void OnNextModal(std::function<void(QWidget&)> step, QPointer<QWidget> previous = nullptr,
                        int polls_left = kMaxPolls) {
  QTimer::singleShot(kPollIntervalMs, qApp, [step, previous, polls_left] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == previous.data()) {
      if (polls_left > 0) OnNextModal(step, previous, polls_left - 1);
      return;
    }
    QPointer<QWidget> guard(modal);
    step(*modal);
    auto* dialog = qobject_cast<QDialog*>(guard.data());
    if (dialog != nullptr && dialog->isVisible()) dialog->reject();
  });
}

// Clicks the button named `name` in `window`; false when there is none.
inline bool Click(QWidget& window, const char* name) {
  auto* button = window.findChild<QAbstractButton*>(name);
  if (button == nullptr) return false;
  button->click();
  return true;
}

}  // namespace quarn::tools::testing
