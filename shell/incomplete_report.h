#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "containers/container.h"
#include "shell/scan_session.h"

namespace quarn {

// Lines of "not scanned" one top-level file may show; the rest are counted and reported
// without a line, so a shattered image cannot bury the scan's other lines.
inline constexpr uint32_t kMaxIncompleteLines = 100;

// The parts of one top-level file that were not scanned: each is counted in the session's
// `incomplete` counter and reported with its path, host path, layers and reason; the first
// kMaxIncompleteLines as the line "Non analizzato: " + path + " (" + cause + ")", the others
// to the front end only, and Finish adds one line for how many were left out.
class IncompleteLines {
 public:
  void Report(ScanSession& session, std::string path, std::string host_path,
              std::vector<PathLayer> layers, IncompleteReason reason);
  // "… altri N non analizzati" / "… N more" when lines were left out, else nothing.
  void Finish(ScanSession& session);

 private:
  uint32_t shown_ = 0;
  uint32_t left_out_ = 0;
};

// A host file or folder of the scan that could not be opened or read, with the system's
// `cause`: never counted as scanned, counted in `incomplete` and `unjudged`, and reported as
// "Non leggibile: " + path + " (" + cause + ")" for the first kMaxIncompleteLines of the scan,
// to the front end only after that.
void ReportUnreadable(ScanSession& session, const std::string& path, const std::string& host_path,
                      const std::string& cause);
// "… altri N non leggibili" / "… N more" when ReportUnreadable left lines out, else nothing.
void FinishUnreadable(ScanSession& session);

}  // namespace quarn
