#include "cli/terminal_questions.h"

#include <array>
#include <string>

#include "cli/terminal_text.h"

namespace quarn {

bool ReplyMeansYes(std::string_view reply) {
  constexpr std::string_view kBlanks = " \t\r";
  const size_t first = reply.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return false;
  reply = reply.substr(first, reply.find_last_not_of(kBlanks) - first + 1);
  std::string lower;
  for (char c : reply) lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  constexpr std::array<std::string_view, 6> kYes{"y", "yes", "s", "si", "s\xC3\xAC", "s\xC3\x8C"};
  for (std::string_view yes : kYes) {
    if (lower == yes) return true;
  }
  return false;
}

bool TerminalQuestions::Ask(std::string_view caption, std::string_view text) {
  if (fixed_answer_) return *fixed_answer_;
  if (stopped_ && stopped_()) return false;
  const std::string prompt = TerminalSafeText(caption) + ": " + TerminalSafeText(text) + " [y/N] ";
  std::optional<std::string> reply = terminal_.Prompt(prompt);
  return reply && ReplyMeansYes(*reply);
}

}  // namespace quarn
