#pragma once

#include <string_view>

namespace quarn {

// The parts of the options status bar.
enum class OptionsStatusPart : int { kFileFilter = 0, kScanAction = 1, kHeuristics = 2 };

inline constexpr std::string_view kErrorCaption = "Errore";
inline constexpr std::string_view kWarningCaption = "Attenzione";

// The one way the engine and the scan talk to the person in front of it. The desktop window,
// the terminal scanner and the tests each implement it.
class UserInterface {
 public:
  virtual ~UserInterface() = default;

  virtual void SetOptionsStatus(OptionsStatusPart part, std::string_view text) = 0;

  // A message box with an OK button and no owner window.
  virtual void ShowMessage(std::string_view caption, std::string_view text) = 0;
};

}  // namespace quarn
