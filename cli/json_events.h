#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/output_channel.h"
#include "cli/scan_output.h"

namespace quarn {

// The JSON Lines form of quarnscan's output: one object per line, its kind in "event".
// Every string is valid UTF-8: bytes of a file name (or of a database's virus name) that are
// not become U+FFFD.

// The events of one result line: "line" always, then "detection", "suspicious" or "action"
// when the line reports one. Each without a line end.
std::vector<std::string> ResultLineEvents(const ResultLine& line);
// The action event of an attempt, shown with a line or not.
std::string ActionEvent(const ResultLine& line);
// The "incomplete" event of a part of a container that was not scanned, shown with a line or
// not: its paths, its layers (empty for a host file) and the reason.
std::string IncompleteEvent(const ResultLine& line);
// The one "boot" event of a boot area's verdict; "removed" only when a removal was tried.
std::string BootEvent(const BootVerdict& verdict);
std::string MessageEvent(std::string_view caption, std::string_view text);
std::string SummaryEvent(const ScanCounters& counters);

// Writes the events above, one per line.
class JsonEventOutput : public ScanOutput {
 public:
  // `out` is not owned and must outlive this object.
  explicit JsonEventOutput(OutputChannel& out) : out_(out) {}

  void AddResultLine(const ResultLine& line) override;
  void AddUnshownAction(const ResultLine& report) override;
  void AddUnshownIncomplete(const ResultLine& report) override;
  void AddBootVerdict(const BootVerdict& verdict) override;
  void AddMemoryVerdict(uint32_t virus_id, std::string_view name) override;
  void AddMessage(std::string_view caption, std::string_view text) override;
  void AddSummary(const ScanCounters& counters) override;

 private:
  void Write(const std::string& event);

  OutputChannel& out_;
};

}  // namespace quarn
