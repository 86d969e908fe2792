#pragma once

#include "engine/user_interface.h"

namespace quarn::tools {

// Messages and questions of the dialogs as message boxes with no owner window, on the
// window's thread: messages with an OK button, questions with Yes and No; both with the stop
// icon. The status bar is not its business.
class MessageBoxInterface : public UserInterface {
 public:
  void SetOptionsStatus(OptionsStatusPart, std::string_view) override {}
  void ShowMessage(std::string_view caption, std::string_view text) override;
  bool Ask(std::string_view caption, std::string_view text) override;
};

}  // namespace quarn::tools
