// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

#include "containers/container.h"
#include "shell/folder_walk.h"
#include "shell/scan_session.h"

namespace quarn {

// Where an archive lies, for the scan of its entries.
struct ArchivePlace {
  ContainerKind kind;
  std::string display_path;       // the archive as shown
  std::string host_path;          // the outermost host file
  std::vector<PathLayer> way_in;  // the layers down to the archive itself
  std::string name;               // the archive's own file name, for a lone compressed file's
  int depth = 1;                  // containers entered to reach its entries
  IncompleteLines* incomplete = nullptr;
  ContainerBudget* budget = nullptr;
};

// Scans every entry of `archive` in its order, as a file found in a walk is scanned (an
// archive or image inside is opened in turn), within the session's limits: an entry past the
// entry count, the file size, the ratio, or the top-level file's size or time budget is
// reported not scanned, and past the count, the size budget and the time nothing more of
// the archive is read. An entry the archive cannot give (encrypted, an unsupported method,
// damaged data) is reported as such, and a structure that breaks off as damaged at the
// archive's path. Nothing inside an archive can change: every action is refused.
void ScanArchiveEntries(ScanSession& session, ArchiveReader& archive, const ArchivePlace& place);

// A lone compressed file's inner name when it stored none. SZDD's own name with the "_" at its
// end dropped when it follows a whole extension ("TOOL.EXE_" gives "TOOL.EXE"), else put back
// to the `last_character` it stored ("SETUP.EX_" and "E" give "SETUP.EXE"); any other name
// without its last extension ("README.TXT.GZ" gives "README.TXT"), or "data" when nothing is
// left.
std::string LoneStreamName(const std::string& container_name, ContainerKind kind,
                           const std::string& last_character);

}  // namespace quarn
