#pragma once

#include <string>

#include "platform/folder.h"
#include "shell/folder_walk.h"
#include "shell/scan_session.h"

namespace quarn {

// Whether the file `name` is to be looked at as a container: the session has an opener and
// lets some kind be opened, and FileFilter is 1, or 0 with a container's extension or a
// program's (which is looked at for a carried archive only).
bool IsContainerCandidate(const ScanSession& session, const std::string& name);

// What ScanIfContainer made of a file.
enum class ContainerScan {
  kNone,   // no container, or one of a kind the limits do not open: left alone, nothing shown
  kWhole,  // scanned as a container, never as a program
  // An image by its boot record alone (OpenedContainer::BootRecordOnly), whose boot record
  // was judged: the caller gives the file to the file detectors as well, read only.
  kBootRecordOnly,
  // A program that carries an archive (OpenedContainer::carried_by_program), whose entries
  // were scanned: the caller gives the file to the file detectors as any program.
  kAlsoProgram,
};

// Opens the candidate `name` of `folder` with the session's opener and scans what it opens:
// past the depth limit it is reported not scanned ("depth"); else the damage seen while
// opening is reported, the image's own boot record (master boot record, or the boot sector
// of an image without a volume) and each volume's boot sector go through the boot-area
// detectors (a line only for a finding, a verdict for each, never a removal) and each
// volume's files are walked as a folder tree, a volume without a letter named "P" and its
// partition number ("HD.IMG!P2:"). `outer` is where the file lies, null for a host file,
// which then has its own lines of "not scanned" (IncompleteLines). A host file the run reads
// as a drive (ScanSession::IsDriveImage) is left alone, as kWhole: it is scanned as that
// drive. A file that cannot be opened is kNone with, given `open_failure`, the system's cause
// there.
ContainerScan ScanIfContainer(ScanSession& session, Folder& folder, const std::string& name,
                              const std::string& display_path, const std::string& host_path,
                              const VolumePlace* outer, const std::string& inner_path,
                              std::string* open_failure = nullptr);

}  // namespace quarn
