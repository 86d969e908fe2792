#pragma once

// For tests: a front end that keeps everything the core sends it and answers questions
// from a script.

#include <deque>
#include <string>
#include <vector>

#include "engine/user_interface.h"

namespace quarn::testing {

class RecordingInterface : public UserInterface {
 public:
  void SetOptionsStatus(OptionsStatusPart part, std::string_view text) override {
    options_statuses.emplace_back(static_cast<int>(part), std::string(text));
  }
  void ShowMessage(std::string_view caption, std::string_view text) override {
    messages.push_back(std::string(caption) + ": " + std::string(text));
  }
  bool Ask(std::string_view caption, std::string_view text) override {
    questions.push_back(std::string(caption) + ": " + std::string(text));
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  void AddResultLine(const ResultLine& line) override { lines.push_back(line); }
  void ReportUnshownAction(const ResultLine& report) override { unshown.push_back(report); }
  void ReportUnshownIncomplete(const ResultLine& report) override { unshown.push_back(report); }
  void ReportBootVerdict(const BootVerdict& verdict) override { boot_verdicts.push_back(verdict); }
  void SetStatusText(StatusPart part, std::string_view text) override {
    statuses.push_back({part, std::string(text)});
  }
  void SetProgress(int position) override { progress.push_back(position); }
  void EnterFolder(std::string_view path) override { folders.push_back("> " + std::string(path)); }
  void LeaveFolder() override { folders.push_back("<"); }
  void ScanFinished(const ScanCounters& counters) override { finished.push_back(counters); }

  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const ResultLine& line : lines) texts.push_back(line.text);
    return texts;
  }

  std::deque<bool> answers;
  std::vector<std::string> messages;
  std::vector<std::string> questions;
  std::vector<ResultLine> lines;
  std::vector<ResultLine> unshown;
  std::vector<BootVerdict> boot_verdicts;
  std::vector<std::pair<int, std::string>> options_statuses;
  std::vector<std::pair<StatusPart, std::string>> statuses;
  std::vector<int> progress;
  std::vector<std::string> folders;
  std::vector<ScanCounters> finished;
};

}  // namespace quarn::testing
