#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/folder.h"
#include "shell/file_detection.h"
#include "shell/image_changes.h"
#include "shell/incomplete_report.h"
#include "shell/scan_session.h"

namespace quarn {

// How many times a file is scanned again after a clean that succeeded: a cleaner that
// reports success without changing the file cannot make the scan endless.
inline constexpr int kMaxRescans = 16;

// One file of a scan: `name` in `folder`, shown as `display_path`, at `host_path` on this
// machine. Runs the detection stage (heuristics when they are on), reports the verdict as
// a result line, keeps the counters and the infected status text, then carries out the
// scan's action: clean (and scan again), delete or rename, automatically or after a
// question. A file that cannot be opened is skipped without a line.
void ScanFile(ScanSession& session, Folder& folder, const std::string& name,
              const std::string& display_path, const std::string& host_path);

// The same with the file's first detection made already (by a DetectionPool, ahead of the
// walk); a scan after a clean detects again here.
void ScanFile(ScanSession& session, Folder& folder, const std::string& name,
              const std::string& display_path, const std::string& host_path,
              const FileDetection& detected);

// A file inside a container as the actions see it.
struct InnerFile {
  std::vector<PathLayer> layers;  // the way in, carried by every report about the file
  // The image the file may be changed in, the index of its volume there and where the walk
  // met the file in that volume; null when nothing inside may change (an image inside
  // another container).
  ImageChanges* image = nullptr;
  size_t volume = 0;
  EntryPlace entry;
  IncompleteLines* incomplete = nullptr;  // the top-level file's; null: the file's own
};

// A file inside a container, shown as `display_path` ("C:\DISKS\DISK1.IMG!A:\DOS\KEYB.COM")
// with `host_path` the outermost host file: scanned and counted as a host file is, every
// report carrying the file's layers. Its action is taken in the image's working copy, with
// the host's questions and lines; where the file cannot be changed, the action gives the
// line "Non modificabile: " + path and a failed action report instead, with no question, no
// message and no counter moved. `detected`: the file's detection when it was made already.
void ScanFileInContainer(ScanSession& session, Folder& folder, const std::string& name,
                         const std::string& display_path, const std::string& host_path,
                         const InnerFile& inner, const FileDetection* detected = nullptr);

// The name a rename gives: the character three places before the end of the name becomes
// "V" (B.DOC becomes B.VOC). A character is a whole UTF-8 sequence, or a byte outside
// one, so no sequence is ever cut. Nothing for a name of fewer than three characters, where
// that character would lie in the folder's part of the path.
std::optional<std::string> RenamedName(const std::string& name);

}  // namespace quarn
