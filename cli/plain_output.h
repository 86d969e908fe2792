#pragma once

#include "cli/output_channel.h"
#include "cli/scan_output.h"

namespace quarn {

// The plain form: each result line's text, exactly as the result list shows it, and nothing
// else (messages go to standard error only; the totals are result lines already).
class PlainOutput : public ScanOutput {
 public:
  // `out` is not owned and must outlive this object.
  explicit PlainOutput(OutputChannel& out) : out_(out) {}

  void AddResultLine(const ResultLine& line) override;
  void AddMessage(std::string_view, std::string_view) override {}
  void AddSummary(const ScanCounters&) override {}

 private:
  OutputChannel& out_;
};

}  // namespace quarn
