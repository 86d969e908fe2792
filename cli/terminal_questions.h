#pragma once

#include <functional>
#include <optional>
#include <string_view>

#include "cli/terminal_device.h"

namespace quarn {

// True for a reply that says yes: "y", "yes", "s", "si" or "sì", in any case, with blanks
// around it ignored. Anything else, an empty reply included, is No.
bool ReplyMeansYes(std::string_view reply);

// The yes/no questions of the -ask actions: answered by --yes or --no when given, else
// asked on the controlling terminal as "CAPTION: TEXT [y/N] ". No terminal, an interrupted
// wait and a stop already requested all answer No.
class TerminalQuestions {
 public:
  // `terminal` is not owned; `stopped` tells whether Ctrl-C was pressed.
  TerminalQuestions(std::optional<bool> fixed_answer, ControllingTerminal& terminal,
                    std::function<bool()> stopped)
      : fixed_answer_(fixed_answer), terminal_(terminal), stopped_(std::move(stopped)) {}

  bool Ask(std::string_view caption, std::string_view text);

 private:
  std::optional<bool> fixed_answer_;
  ControllingTerminal& terminal_;
  std::function<bool()> stopped_;
};

}  // namespace quarn
