#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "clean/cleaning_copy.h"
#include "containers/container.h"
#include "engine/result_line.h"
#include "platform/folder.h"
#include "shell/scan_session.h"

namespace quarn {

class WatchedFile;

// What may be done to one file inside an image.
enum class ChangeAccess {
  kGranted,  // `folder` is the file's folder inside the working copy
  kRefused,  // the file cannot be changed: "Cannot be changed", no question, no message box
  kFailed,   // no working copy could be made: a message naming the image and the cause
};

struct ChangePlace {
  ChangeAccess access = ChangeAccess::kRefused;
  std::unique_ptr<Folder> folder;
  std::string message;  // why, for kRefused and kFailed
};

// The changes one scan makes inside one disk image that lies on the host as a file of its
// own. The first change makes a working copy of the image beside it (a clone where the file
// system shares extents); every change of the scan in that image goes into the copy, which
// replaces the image in one rename at Finish, when the walk leaves the image. A crash before
// then leaves the image as it was, and the copy for the next scan to remove.
//
// Nothing is changed in an image that is no regular file of one link that may be written,
// in a volume where damage was seen, or in a file the working copy's file system refuses to
// change (a cross-linked one). An action that fails after it wrote to the working copy, and
// any write to the copy that fails, spoil it: Finish then keeps the image as it was, as it does
// when the image changed under the scan or the rename fails, and takes back every action done in
// it.
class ImageChanges {
 public:
  // The image is `name` in `folder`, which outlives this object.
  ImageChanges(Folder& folder, std::string name);
  ~ImageChanges();
  ImageChanges(const ImageChanges&) = delete;
  ImageChanges& operator=(const ImageChanges&) = delete;

  // Damage was seen in volume `volume` (the index in the opened container's list), or, for
  // kEveryVolume, in the image's own structure: nothing there is changed from now on.
  static constexpr size_t kEveryVolume = std::numeric_limits<size_t>::max();
  void NoteDamage(size_t volume);

  // Opens the folder of `volume` in the working copy that holds the file `name` the walk met
  // at `entry` (ContainerFileSystem::OpenEntryFolder), for a change to it, making the copy at
  // the first call.
  ChangePlace OpenForChange(size_t volume, const EntryPlace& entry, const std::string& name);

  // Around every action on a folder OpenForChange gave: the token BeginAction gives goes to
  // EndAction, which records the action's result line when it was done.
  uint64_t BeginAction() const;
  void EndAction(uint64_t token, bool done, ActionKind kind, const ResultLine& line);

  // Puts the working copy in the image's place when an action was done and nothing spoiled
  // it, else removes it. When the image is kept as it was, the actions done in it are
  // taken back: a message names the image and the cause, each action is reported again with
  // ok false, and the counters lose them.
  void Finish(ScanSession& session);

  // Whether a working copy exists now: for tests of what one scan copies.
  bool HasWorkingCopy() const { return copy_ != nullptr; }

 private:
  struct DoneAction {
    ActionKind kind;
    ResultLine line;
  };

  // Why the image itself may not be changed, looked at once; nothing when it may.
  const std::optional<std::string>& ImageRefusal();
  std::optional<std::string> MakeWorkingCopy();
  void TakeBack(ScanSession& session, const std::string& message);

  Folder& folder_;
  std::string name_;
  std::optional<std::optional<std::string>> image_refusal_;
  std::vector<size_t> damaged_;
  std::unique_ptr<File> image_;  // open for writing once the image passed its checks
  FileTimes image_times_;
  std::unique_ptr<CleaningCopy> copy_;
  std::shared_ptr<WatchedFile> watched_;   // the copy's file, as the container reads it
  std::optional<OpenedContainer> opened_;  // the working copy, open for writing
  bool spoiled_ = false;
  std::vector<DoneAction> done_;
};

}  // namespace quarn
