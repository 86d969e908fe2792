#pragma once

#include <string>

#include "platform/folder.h"
#include "shell/folder_walk.h"
#include "shell/scan_session.h"

namespace quarn {

// Whether the file `name` is to be looked at as a container: the session has an opener and
// lets some kind be opened, and FileFilter is 1, or 0 with a container's extension.
bool IsContainerCandidate(const ScanSession& session, const std::string& name);

// Opens the candidate `name` of `folder` with the session's opener. A file that is no
// container, or one of a kind the limits do not open, is left alone: false, nothing shown.
// Otherwise the file is scanned as a container, never as a program, and the result is true:
// past the depth limit it is reported not scanned ("depth"); else the damage seen while
// opening is reported, the master boot record and each volume's boot sector go through the
// boot-area detectors (a line only for a finding, a verdict for each, never a removal) and
// each volume's files are walked as a folder tree. `outer` is where the file lies, null for
// a host file, which then has its own lines of "not scanned" (IncompleteLines). A host file
// the run reads as a drive (ScanSession::IsDriveImage) is left alone, with true: it is
// scanned as that drive. A file that cannot be opened gives false and, with
// `open_failure`, the system's cause there.
bool ScanIfContainer(ScanSession& session, Folder& folder, const std::string& name,
                     const std::string& display_path, const std::string& host_path,
                     const VolumePlace* outer, const std::string& inner_path,
                     std::string* open_failure = nullptr);

}  // namespace quarn
