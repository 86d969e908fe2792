#include "desktop/window_interface.h"

#include <QThread>

namespace quarn::window {
namespace {

QString FromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

template <typename Call>
void WindowInterface::Wait(Call call) {
  if (QThread::currentThread() == window_.thread()) {
    call();
  } else {
    QMetaObject::invokeMethod(&window_, call, Qt::BlockingQueuedConnection);
  }
}

template <typename Call>
void WindowInterface::Post(Call call) {
  if (QThread::currentThread() == window_.thread()) {
    call();
  } else {
    QMetaObject::invokeMethod(&window_, std::move(call), Qt::QueuedConnection);
  }
}

void WindowInterface::SetOptionsStatus(OptionsStatusPart part, std::string_view text) {
  Post([this, part, text = FromUtf8(text)] {
    window_.options_bar()->SetText(static_cast<int>(part), text);
  });
}

void WindowInterface::ShowMessage(std::string_view caption, std::string_view text) {
  Wait([caption = FromUtf8(caption), text = FromUtf8(text)] {
    MainWindow::ShowMessage(caption, text);
  });
}

bool WindowInterface::Ask(std::string_view caption, std::string_view text) {
  bool yes = false;
  Wait([this, &yes, caption = FromUtf8(caption), text = FromUtf8(text)] {
    yes = window_.Ask(caption, text);
  });
  return yes;
}

void WindowInterface::AddResultLine(const ResultLine& line) {
  const ResultIcon icon = line.icon;
  Wait([this, icon] {
    window_.results()->LineAdded(icon);
    window_.ShowLastResult();
  });
}

void WindowInterface::SetStatusText(StatusPart part, std::string_view text) {
  Post([this, part, text = FromUtf8(text)] {
    switch (part) {
      case StatusPart::kPath:
        window_.path_bar()->SetText(0, text);
        break;
      case StatusPart::kScanned:
        window_.counter_bar()->SetText(0, text);
        break;
      case StatusPart::kInfected:
        window_.counter_bar()->SetText(1, text);
        break;
      case StatusPart::kTotal:
        window_.counter_bar()->SetText(2, text);
        break;
    }
  });
}

void WindowInterface::SetProgress(int position) {
  Post([this, position] { window_.progress()->setValue(position); });
}

void WindowInterface::EnterFolder(std::string_view display_path) {
  Post([this, path = std::string(display_path)] { window_.tree()->FollowEnter(path); });
}

void WindowInterface::LeaveFolder() {
  Post([this] { window_.tree()->FollowLeave(); });
}

}  // namespace quarn::window
