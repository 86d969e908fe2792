#pragma once

#include <functional>
#include <string>

#include "cli/output_channel.h"
#include "cli/scan_output.h"

namespace quarn {

// The plain form: each result line's text, exactly as the result list shows it, and nothing
// else (messages go to standard error only; the totals are result lines already).
class PlainOutput : public ScanOutput {
 public:
  // How a host path is shown ("C:\\DOS"), for lines that name files by their host path.
  using DisplayOfHost = std::function<std::string(const std::string&)>;

  // `out` is not owned and must outlive this object. With `display_of_host`, a line about a
  // file names it by its host path instead ("/srv/x.zip!INSTALL\\SETUP.EXE": the outermost
  // host file, then "!" and the path inside as the drive form has it), so that it can be
  // pasted into a shell; control characters are still shown as "?".
  explicit PlainOutput(OutputChannel& out, DisplayOfHost display_of_host = {})
      : out_(out), display_of_host_(std::move(display_of_host)) {}

  void AddResultLine(const ResultLine& line) override;
  void AddMessage(std::string_view, std::string_view) override {}
  void AddSummary(const ScanCounters&) override {}

 private:
  std::string HostPathText(const ResultLine& line) const;

  OutputChannel& out_;
  DisplayOfHost display_of_host_;
};

}  // namespace quarn
