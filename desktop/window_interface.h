#pragma once

#include "engine/user_interface.h"
#include "desktop/main_window.h"

namespace quarn::window {

// The scan core's user interface in the main window. Called on the window's own thread (the
// start-up) it acts at once; called on the scan thread it hands each call to the window's
// thread. Result lines, messages, questions and the scan's start and end wait there until
// the window has handled them, so a line is stored, logged and shown before the scan goes
// on, and the result list is only read while the scan thread waits (see ResultListModel).
// Status texts, progress and the walk's folders are posted without waiting.
class WindowInterface : public UserInterface {
 public:
  explicit WindowInterface(MainWindow& window) : window_(window) {}

  void SetOptionsStatus(OptionsStatusPart part, std::string_view text) override;
  void ShowMessage(std::string_view caption, std::string_view text) override;
  bool Ask(std::string_view caption, std::string_view text) override;
  void AddResultLine(const ResultLine& line) override;
  void SetStatusText(StatusPart part, std::string_view text) override;
  void SetProgress(int position) override;
  void EnterFolder(std::string_view display_path) override;
  void LeaveFolder() override;

 private:
  template <typename Call>
  void Wait(Call call);
  template <typename Call>
  void Post(Call call);

  MainWindow& window_;
};

}  // namespace quarn::window
