#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file.h"
#include "platform/folder.h"

namespace quarn {

class BlockDevice;
class UnpackMeter;

// What a container is, as the `kind` of a `layers` entry names it. Each has its row in the
// kinds' table (container_kinds.cpp).
enum class ContainerKind {
  kFat12,
  kFat16,
  kFat32,
  kMbr,
  kZip,
  kSevenZip,
  kTar,
  kIso9660,
  kCab,
  kRar,
  kGzip,
  kBzip2,
  kXz,
  kZstd,
  kLzma,
  kCompress,
  kLha,
  kSzdd,
  kArj,
  kArc,
  kVhd,
  kVhdx,
  kVmdk,
  kQcow,
  kVdi,
  kEwf,
  kImd,
  kTd0,
  kCqm,
  kCdraw,
};

// The kind's name and whether it is a disk image (a FAT volume, a partitioned disk, a
// wrapper) rather than an archive, as its row in the kinds' table (container_kinds.h) gives
// them.
std::string_view ContainerKindName(ContainerKind kind);
bool IsImageKind(ContainerKind kind);

// Why part of a container was not scanned, as the `reason` of an `incomplete` event names it.
enum class IncompleteReason {
  kDepth,
  kEntries,
  kSize,
  kRatio,
  kTime,
  kEncrypted,
  kUnsupported,
  kDamaged,
  // A host file or folder that could not be opened or read: it was never looked at.
  kUnreadable,
  // A temporary file, a thread or a child process the file's scan needed could not be had.
  kResource,
  // An imported pattern's verification reached its bound before it could say whether the file
  // matches.
  kVerify,
};

// "depth", "entries", "size", "ratio", "time", "encrypted", "unsupported", "damaged",
// "unreadable", "resource", "verify".
std::string_view IncompleteReasonName(IncompleteReason reason);

// A part of a container that was not read whole: the path inside its volume with "\"
// between folders ("DOS\KEYB.COM"; empty for the volume or the container itself), and why.
struct ContainerDamage {
  std::string inner_path;
  IncompleteReason reason = IncompleteReason::kDamaged;
  friend bool operator==(const ContainerDamage&, const ContainerDamage&) = default;
};

// Where a walk met an entry inside a volume: its folder (the folder's Identity().inode, and
// its Path() for messages) and the entry's own slot (FolderEntry::slot; 0 for a file the user
// named rather than one a listing gave). A byte copy of the volume holds the entry at the same
// place, whatever names its folders show.
struct EntryPlace {
  uint64_t folder = 0;
  std::string folder_path = "/";
  uint64_t slot = 0;
};

// The files of one volume of a container. Paths are inside the volume, "/" between folders,
// "" or "/" for its root; Folder::Path() gives them back in that form. Opened for reading,
// every change fails with a message that says so; what a volume opened for writing allows
// is its file system's to say.
class ContainerFileSystem : public FileSystem {
 public:
  // The damage met since the last call (a chain that loops, a folder that holds itself, a
  // file longer than its chain), each once: a walk drains it after every listing and read.
  virtual std::vector<ContainerDamage> TakeDamage() = 0;
  // Forgets what earlier walks met, so that the next one finds and reports the same damage
  // again: a new scan of a drive made of an image, in a program that scans it more than once.
  virtual void StartOver() = 0;
  // A folder of this volume that holds the entry at `place` alone (Folder::ViewOfEntry), or
  // the whole folder for slot 0: what a change in an image's working copy goes through, so
  // that it reaches the entry the walk read in the image and never one a path parsed again
  // would name. A volume whose names open one entry each may find the folder by its path.
  virtual Result<std::unique_ptr<Folder>> OpenEntryFolder(const EntryPlace& place) {
    return OpenFolder(place.folder_path);
  }
};

struct ContainerVolume {
  ContainerKind kind = ContainerKind::kFat12;
  // "A:" for an unpartitioned image, "C:", "D:"… for the lettered partitions of a
  // partitioned one; empty where the volume has no letter.
  std::string letter;
  // 0 in an unpartitioned image; else 1–4 by table slot, 5 and up for logical drives in
  // chain order (the name of the `mbr` layer).
  uint32_t partition_number = 0;
  // The volume's first sector, for the boot-area detectors.
  std::vector<uint8_t> boot_sector;
  std::unique_ptr<ContainerFileSystem> files;
};

// One entry of an archive as its header tells it.
struct ArchiveEntry {
  // The path inside the archive as shown: UTF-8, "\" between folders, no leading "./" or
  // "\"; a byte that cannot be decoded, and a control character, as U+FFFD.
  std::string path;
  bool regular = true;           // a regular file; folders, links and devices are not scanned
  std::optional<uint64_t> size;  // what the header says, when it says
  // Why the entry's data cannot be read, where the header tells it already: encrypted, or a
  // method the reader lacks.
  std::optional<IncompleteReason> unreadable;
  // Whether the entry's data is compressed, so that reading it means decoding it, not copying
  // it: what a twin (ArchiveReader::Twin) is for.
  bool packed = false;
  // For a lone compressed file that keeps only the last character of its name (SZDD), that
  // character as UTF-8: the "_" at the end of the file's own name stands for it.
  std::string last_name_character;
};

// What one read of an entry's data gave: bytes (0 at the entry's end), or why it stopped.
struct EntryRead {
  size_t bytes = 0;
  std::optional<IncompleteReason> failure;
};

// Where an entry's bytes lie undecoded and in one piece inside the archive's own file.
struct EntryInPlace {
  std::shared_ptr<File> archive;
  uint64_t offset = 0;
  uint64_t size = 0;
};

// An archive's entries in their order, read once, from the front: a reader of a compressed
// stream cannot go back.
class ArchiveReader {
 public:
  virtual ~ArchiveReader() = default;
  // Which entries will be read, told before the first NextEntry: a reader that pays for each
  // start of a program gives the wanted ones from one start. An entry not wanted may still be
  // read; it then costs a start of its own. Without it every entry is wanted. `wanted` is
  // called from NextEntry and ReadData only.
  virtual void Want(std::function<bool(const ArchiveEntry&)> wanted) { (void)wanted; }
  // The next entry; nothing at the end, or where the archive's structure breaks off (then
  // Damaged() is true).
  virtual std::optional<ArchiveEntry> NextEntry() = 0;
  // The current entry's data, from where the last read stopped.
  virtual EntryRead ReadData(void* buffer, size_t length) = 0;
  // The current entry's bytes where they lie in the archive, when they lie there as they are
  // (stored) and the entry is larger than one read: the scan then reads only what it looks
  // at, as in a loose file, and no check sum covers them. Asked before the first ReadData;
  // when it gives nothing, ReadData gives the data (or why it cannot).
  virtual std::optional<EntryInPlace> FindInPlace() { return std::nullopt; }
  // How many bytes of the archive itself the reader has taken so far: the packed size of an
  // entry is what this grows by while its data is read.
  virtual uint64_t PackedBytesRead() const = 0;
  // Whether the entries ended where the archive's structure broke (a truncated or damaged
  // header), rather than at its end.
  virtual bool Damaged() const = 0;
  // Why part of the archive was not given as entries, broken headers aside: `unsupported`
  // when the program that reads its kind is not installed, `entries` when it holds more than
  // that program is asked to list, `damaged` when an entry's damaged data left the reader
  // unable to go on to the entries after it. Asked after the last entry.
  virtual std::optional<IncompleteReason> LeftUnread() const { return std::nullopt; }
  // Whether passing over an entry's unread data costs a seek, not decoding it: false for a
  // compressed stream (a tar.gz) and for solid archives, where the rest of an entry too large
  // to scan would have to be decoded all the same.
  virtual bool SkipsCheaply() const = 0;
  // A reader of its own over the same archive, from its first entry, for another thread: it
  // gives the same entries, and each entry's data as this reader would, where the kind's
  // entries decode apart from one another (a ZIP's). Nothing for other kinds, or when it
  // cannot be opened. Each may be used on a thread of its own, at the same time as this
  // reader: from the first twin on, all of them read the archive's file in turns, and nothing
  // else may read that file while a twin is in use.
  virtual std::unique_ptr<ArchiveReader> Twin() { return nullptr; }
};

// A container recognised by its structure.
struct OpenedContainer {
  // kMbr for a partitioned image, else the kind of its one volume (or of the volume its
  // boot sector describes, when there is none); a wrapper's own kind when it holds no disk
  // that could be read.
  ContainerKind kind = ContainerKind::kFat12;
  // The image's first sector, for the boot-area detectors, when it is judged on its own:
  // the master boot record of a partitioned image (kind kMbr), or the boot sector of an
  // image with no FAT volume; empty for an unpartitioned image with its volume.
  std::vector<uint8_t> boot_record;
  // In letter order (unlettered volumes last).
  std::vector<ContainerVolume> volumes;
  // Damage seen while opening (a logical chain that loops, a volume that fails its checks).
  std::vector<ContainerDamage> damage;
  // An archive's entries, for an archive's kind; null for a disk image.
  std::unique_ptr<ArchiveReader> archive;
  // A self-extractor: a program whose image is followed by the archive. The file is a program
  // as well, scanned and acted on as any program; the archive's entries stay read only.
  bool carried_by_program = false;
  // The wrapper whose sectors the disk above was read from: a layer of its own, outermost,
  // named "", under which nothing may change. Its damage concerns the wrapper itself (a
  // block map entry past the file's end; `unsupported` for a parent it will not open), whose
  // disk is then `kind` with what could be read of it, or nothing at all.
  // `disk` gives the disk's sectors (a CD's user data), read only; null when they cannot be
  // known. `meter` charges every read of a disk that decompresses (null for the others);
  // it lets every read through until the scan gives it a limit.
  struct Wrapper {
    ContainerKind kind = ContainerKind::kVhd;
    std::vector<ContainerDamage> damage;
    std::shared_ptr<BlockDevice> disk;
    std::shared_ptr<UnpackMeter> meter;
    // The bytes unpacked to give the disk (a compressed floppy image's), counted against the
    // scan's size limit as an archive's entries are.
    uint64_t unpacked = 0;
  };
  std::optional<Wrapper> wrapper;

  // Whether the file is taken for a disk image only by its boot record (a floppy-size file
  // with no FAT volume, an MBR with no partition read): nothing inside holds files, and the
  // file itself also goes to the file detectors, read only.
  // A wrapper is never that: its structure alone made it a container.
  bool BootRecordOnly() const { return IsImageKind(kind) && volumes.empty() && !wrapper; }
  // Whether the files inside may change: those of a raw image only.
  bool Changeable() const { return IsImageKind(kind) && !wrapper; }
};

inline constexpr size_t kContainerHeadBytes = 512;

// The bytes of a file a scan holds already, read for the detectors: its first bytes, when
// they were read its last ones, and a piece between that a check asked for (LookWanted).
// Any may be empty; `tail` ends at `size`, `look` starts at `look_at`.
struct HeldEnds {
  std::span<const uint8_t> head;
  std::span<const uint8_t> tail;
  uint64_t size = 0;
  std::span<const uint8_t> look;
  uint64_t look_at = 0;

  // The byte at `offset`, when one of the pieces holds it.
  std::optional<uint8_t> At(uint64_t offset) const {
    if (offset < head.size()) return head[offset];
    if (offset < size && size - offset <= tail.size()) return tail[tail.size() - (size - offset)];
    if (offset >= look_at && offset - look_at < look.size()) return look[offset - look_at];
    return std::nullopt;
  }
};

// A piece of a file, by its offset and length.
struct BytesWanted {
  uint64_t offset = 0;
  uint32_t length = 0;
};
inline constexpr uint32_t kMostBytesLookedAt = 64;

// Opens a file beside the one being opened, by a name the format's own rule gives: null when
// no such file may be read (SiblingsIn says which may). Empty, it opens none.
struct SiblingOpener {
  std::function<std::shared_ptr<File>(const std::string& name)> open;
  // The opened file's own name in its folder, which a set's rule derives the others' from.
  std::string own_name;

  explicit operator bool() const { return static_cast<bool>(open); }
  std::shared_ptr<File> operator()(const std::string& name) const {
    return open ? open(name) : nullptr;
  }
};

// Looks at a file and opens it as a container when its structure checks out. Reads through
// `file` from then on, from any thread the volumes' files are read on.
class ContainerOpener {
 public:
  virtual ~ContainerOpener() = default;
  // Nothing when the file is not a container of a kind this opener knows: it is then an
  // ordinary file, and nothing about it is reported.
  virtual std::optional<OpenedContainer> Open(std::shared_ptr<File> file) = 0;

  // As Open, for a file whose siblings `siblings` opens (a wrapper made of several files);
  // Open itself opens none.
  virtual std::optional<OpenedContainer> OpenWithSiblings(std::shared_ptr<File> file,
                                                          const SiblingOpener& siblings) {
    (void)siblings;
    return Open(std::move(file));
  }

  // False only when Open would give nothing for a file of `size` bytes that starts with
  // `head` (its first kContainerHeadBytes, fewer only when the file is shorter): a scan that
  // has read those bytes already for the detectors need not open the file again to learn
  // that it is no container. Safe to call from any thread.
  virtual bool MayOpen(std::span<const uint8_t> head, uint64_t size) const {
    (void)head;
    (void)size;
    return true;
  }
  // As MayOpen, from all the scan holds of the file: the tail can rule out a kind whose
  // structure ends the file. Never reads, opens a library's handle or allocates.
  virtual bool MayOpenHeld(const HeldEnds& held) const {
    return MayOpen(held.head.first(std::min(held.head.size(), kContainerHeadBytes)), held.size);
  }
  // A few bytes (at most kMostBytesLookedAt) MayOpenHeld would need, beyond those held, to
  // answer false for a file that is no container: one small read on the file already open
  // costs far less than opening it. Nothing when it needs none or cannot say from so few.
  virtual std::optional<BytesWanted> LookWanted(const HeldEnds& held) const {
    (void)held;
    return std::nullopt;
  }
  // Reads the bytes a look wants from the file (fewer at its end).
  using LookReader = std::function<std::span<const uint8_t>(const BytesWanted&)>;
  // MayOpenHeld, with the look LookWanted asks for made through `read` (its bytes then in
  // `held`) when the held bytes leave the answer open.
  virtual bool MayOpenLooking(HeldEnds& held, const LookReader& read) const {
    if (!MayOpenHeld(held)) return false;
    const std::optional<BytesWanted> wanted = LookWanted(held);
    if (!wanted) return true;
    held.look = read(*wanted);
    held.look_at = wanted->offset;
    return MayOpenHeld(held);
  }
  // How many of a file's last bytes the scan should hold for MayOpenHeld to decide, once it
  // knows the file's head and size; 0 when the usual tail serves.
  virtual uint32_t TailWanted(std::span<const uint8_t> head, uint64_t size) const {
    (void)head;
    (void)size;
    return 0;
  }
};

}  // namespace quarn
