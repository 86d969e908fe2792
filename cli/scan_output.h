#pragma once

#include <string_view>

#include "engine/result_line.h"

namespace quarn {

// What quarnscan puts on standard output: one plain line per result line, or JSON events.
// Every call writes whole lines through an OutputChannel, so a script reading a pipe sees
// each one as the scan sends it.
class ScanOutput {
 public:
  virtual ~ScanOutput() = default;

  // A line the core stored and logged, in the order sent.
  virtual void AddResultLine(const ResultLine& line) = 0;
  // The start-up memory scan's verdict: 0 for clean memory.
  virtual void AddMemoryVerdict(uint32_t /*virus_id*/, std::string_view /*name*/) {}
  // An action attempt that failed without a result line.
  virtual void AddUnshownAction(const ResultLine& /*report*/) {}
  // A part of a container not scanned past the lines one file may show.
  virtual void AddUnshownIncomplete(const ResultLine& /*report*/) {}
  // A boot area's verdict, once, after the lines that showed it.
  virtual void AddBootVerdict(const BootVerdict& /*verdict*/) {}
  // A message box's caption and text (standard error carries them as well).
  virtual void AddMessage(std::string_view caption, std::string_view text) = 0;
  // The counters of a run that loaded the databases; the last thing written.
  virtual void AddSummary(const ScanCounters& counters) = 0;
};

}  // namespace quarn
