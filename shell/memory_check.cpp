#include "shell/memory_check.h"

namespace quarn {

MemoryScanResult CheckMemoryAtStartUp(ScanSession& session, SystemAccess& system_access) {
  MemoryNameBuffer name{};
  MemoryScanOutput lines;
  lines.add_line = [&session](ResultLine line) {
    line.kind = ReportKind::kText;  // the memory verdict says what it found, not a file's
    session.AddLine(std::move(line));
  };
  lines.set_progress = [&session](int position) { session.ui().SetProgress(position); };
  return ScanMemory(session.signatures(), system_access, session.language(), name, lines);
}

}  // namespace quarn
