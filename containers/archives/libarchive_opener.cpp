#include "containers/archives/libarchive_opener.h"

#include <archive.h>
#include <archive_entry.h>
#include <locale.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "containers/archives/archive_names.h"
#include "containers/archives/held_bytes_checks.h"
#include "containers/archives/seven_zip_dictionary.h"
#include "containers/archives/stream_dictionary.h"
#include "containers/archives/zip_stored_entry.h"
#include "containers/turn_taking_file.h"
#include "platform/byte_reader.h"
#include "platform/file_reads.h"
#include "platform/libarchive_handles.h"

namespace quarn {
namespace {

constexpr size_t kBlockBytes = 64 * 1024;
// A twin's read after a seek: a ZIP's local header with its name and extra field, and then
// some.
constexpr size_t kSoughtTwinRead = 4 * 1024;
constexpr size_t kDictionaryHead = 64;

// A tar header (ustar, GNU or the old V7 form, which has no magic): its check sum, an octal
// number, is the sum of its bytes with the check sum's own eight taken as spaces. Old tars
// summed signed bytes; either sum is taken.
constexpr size_t kTarBlock = 512;
constexpr size_t kTarChecksumAt = 148;
constexpr size_t kTarChecksumBytes = 8;

bool IsTarHeader(std::span<const uint8_t> head) {
  if (head.size() < kTarBlock) return false;
  uint64_t stored = 0;
  size_t at = kTarChecksumAt;
  const size_t end = kTarChecksumAt + kTarChecksumBytes;
  while (at < end && head[at] == ' ') ++at;
  const size_t first_digit = at;
  for (; at < end && head[at] >= '0' && head[at] <= '7'; ++at) {
    stored = stored * 8 + static_cast<uint64_t>(head[at] - '0');
  }
  if (at == first_digit || (at < end && head[at] != ' ' && head[at] != 0)) return false;
  int64_t sum_unsigned = 0;
  int64_t sum_signed = 0;
  for (size_t i = 0; i < kTarBlock; ++i) {
    const uint8_t byte = i >= kTarChecksumAt && i < end ? ' ' : head[i];
    sum_unsigned += byte;
    sum_signed += static_cast<int8_t>(byte);
  }
  // A block of zeros sums to the spaces alone; it is an end mark, not a header.
  constexpr int64_t kSpacesOnly = ' ' * kTarChecksumBytes;
  return sum_unsigned != kSpacesOnly && (static_cast<int64_t>(stored) == sum_unsigned ||
                                         static_cast<int64_t>(stored) == sum_signed);
}

// An ISO 9660 image's descriptors lie past the head: its size alone tells, before libarchive
// reads them. An image cut short in its last sector, or with bytes after it, is still one:
// the size need not be whole sectors.
constexpr uint64_t kIsoSector = 2048;
constexpr uint64_t kIsoFirstDescriptor = 16 * kIsoSector;
bool IsoSized(std::span<const uint8_t>, uint64_t size) {
  return size >= kIsoFirstDescriptor + kIsoSector;
}

// The mark every volume descriptor carries after its type byte, read where the first lies.
bool HasIsoDescriptor(File& file) {
  constexpr std::string_view kMark = "CD001";
  std::array<uint8_t, kMark.size()> mark{};
  return ReadExactlyAt(file, kIsoFirstDescriptor + 1, mark) &&
         std::memcmp(mark.data(), kMark.data(), kMark.size()) == 0;
}

// An .lzma stream has no magic: libarchive bids on its properties byte (lc, lp and pb, below
// 225) and a dictionary of a size the encoders write, 2^n or 3 * 2^n from 4 KiB on, or whole
// MiB. This lets through all it may take.
bool LzmaHeaded(std::span<const uint8_t> head, uint64_t) {
  constexpr size_t kLzmaHeader = 13;
  constexpr uint8_t kMostProperties = 225;
  constexpr uint32_t kSmallest = 1u << 12;
  constexpr uint32_t kMiB = 1u << 20;
  if (head.size() < kLzmaHeader || head[0] >= kMostProperties) return false;
  const uint32_t dictionary = ReadU32(head, 1);
  if (dictionary < kSmallest) return false;
  return std::has_single_bit(dictionary) ||
         (dictionary % 3 == 0 && std::has_single_bit(dictionary / 3)) || dictionary % kMiB == 0;
}

bool TarHeaded(std::span<const uint8_t> head, uint64_t) {
  return IsTarHeader(head);
}

bool AnyHead(std::span<const uint8_t>) {
  return true;
}

// One format or filter libarchive reads for us. libarchive also finds archives behind a
// program's code and takes a file that starts with a tar's end mark for an empty tar: here a
// file is an archive only when it starts as one (its magic, or else `starts_as`) and holds an
// entry. `may_be` is what the quick look at a head lets through for a kind without magic.
struct LibarchiveKind {
  ContainerKind kind;
  int format;  // ARCHIVE_FORMAT_*, 0 for a filter
  int filter;  // ARCHIVE_FILTER_*, 0 for a format
  // Registers the format's reader; the filters are all registered at once, so that one of a
  // kind we do not take is known and refused rather than read as a raw stream.
  int (*support)(struct archive*);
  // Names the DOS archivers stored are in the DOS code page; a name flagged UTF-8 stays so.
  std::string_view options;
  std::string_view magic;
  bool (*starts_as)(std::span<const uint8_t> head);
  bool (*may_be)(std::span<const uint8_t> head, uint64_t size);
  // Entries that lie apart, each reached by a seek (without a filter; a filter or a solid
  // archive decodes everything in front of an entry to reach it), and whose stored data lies
  // in the archive as it is.
  bool skips_cheaply;
  bool lies_in_place;
  // Each entry decodes from its own bytes alone (no filter, no solid block), so readers of
  // their own may take different entries at once. A plain tar's entries need no decoding.
  bool decodes_apart;
};

// In the order the readers are registered, which breaks ties between their bids.
constexpr LibarchiveKind kKinds[] = {
    // Seeking the central directory: a ZIP without one is no ZIP.
    {ContainerKind::kZip, ARCHIVE_FORMAT_ZIP, 0, archive_read_support_format_zip_seekable,
     "zip:hdrcharset=CP437", "PK\x03\x04", nullptr, nullptr, true, true, true},
    {ContainerKind::kSevenZip, ARCHIVE_FORMAT_7ZIP, 0, archive_read_support_format_7zip, "",
     "7z\xBC\xAF\x27\x1C", nullptr, nullptr, false, false, false},
    {ContainerKind::kTar, ARCHIVE_FORMAT_TAR, 0, archive_read_support_format_tar, "", "",
     IsTarHeader, TarHeaded, true, true, false},
    {ContainerKind::kIso9660, ARCHIVE_FORMAT_ISO9660, 0, archive_read_support_format_iso9660, "",
     "", AnyHead, IsoSized, true, false, false},
    {ContainerKind::kCab, ARCHIVE_FORMAT_CAB, 0, archive_read_support_format_cab,
     "cab:hdrcharset=CP437", "MSCF", nullptr, nullptr, true, false, false},
    {ContainerKind::kRar, ARCHIVE_FORMAT_RAR, 0, archive_read_support_format_rar,
     "rar:hdrcharset=CP437", "Rar!\x1A\x07", nullptr, nullptr, false, false, false},
    {ContainerKind::kRar, ARCHIVE_FORMAT_RAR_V5, 0, archive_read_support_format_rar5, "",
     "Rar!\x1A\x07", nullptr, nullptr, false, false, false},
    {ContainerKind::kGzip, 0, ARCHIVE_FILTER_GZIP, nullptr, "", "\x1F\x8B", nullptr, nullptr, false,
     false, false},
    {ContainerKind::kBzip2, 0, ARCHIVE_FILTER_BZIP2, nullptr, "", "BZh", nullptr, nullptr, false,
     false, false},
    {ContainerKind::kXz, 0, ARCHIVE_FILTER_XZ, nullptr, "",
     "\xFD"
     "7zXZ",
     nullptr, nullptr, false, false, false},
    {ContainerKind::kLzma, 0, ARCHIVE_FILTER_LZMA, nullptr, "", "", AnyHead, LzmaHeaded, false,
     false, false},
    {ContainerKind::kZstd, 0, ARCHIVE_FILTER_ZSTD, nullptr, "", "\x28\xB5\x2F\xFD", nullptr,
     nullptr, false, false, false},
    {ContainerKind::kCompress, 0, ARCHIVE_FILTER_COMPRESS, nullptr, "", "\x1F\x9D", nullptr,
     nullptr, false, false, false},
};

const LibarchiveKind* FormatRow(int format) {
  for (const LibarchiveKind& row : kKinds) {
    if (row.format != 0 && row.format == (format & ARCHIVE_FORMAT_BASE_MASK)) return &row;
  }
  return nullptr;
}

const LibarchiveKind* FilterRow(int code) {
  for (const LibarchiveKind& row : kKinds) {
    if (row.filter != 0 && row.filter == code) return &row;
  }
  return nullptr;
}

bool StartsAs(const LibarchiveKind& row, std::span<const uint8_t> head) {
  if (row.magic.empty()) return row.starts_as(head);
  return head.size() >= row.magic.size() &&
         std::memcmp(head.data(), row.magic.data(), row.magic.size()) == 0;
}

// libarchive turns names into the thread's locale: a UTF-8 one keeps every name whole.
class Utf8Names {
 public:
  Utf8Names() {
    static const locale_t utf8 = [] {
      locale_t made = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
      return made != static_cast<locale_t>(0) ? made : LC_GLOBAL_LOCALE;
    }();
    previous_ = uselocale(utf8);
  }
  ~Utf8Names() { uselocale(previous_); }
  Utf8Names(const Utf8Names&) = delete;
  Utf8Names& operator=(const Utf8Names&) = delete;

 private:
  locale_t previous_;
};

// The archive's bytes as libarchive asks for them: blocks from a position, seeks and skips
// bounded by the file's size.
struct Source {
  std::shared_ptr<File> file;
  uint64_t size = 0;
  uint64_t position = 0;
  std::vector<uint8_t> block = std::vector<uint8_t>(kBlockBytes);
  // How much a read takes where it does not go on from the last one: a twin seeks to each of
  // its entries past the data of the others', and needs a header's worth there, not a block.
  size_t sought_read = kBlockBytes;
  // Where the bytes now in `block` came from, and how many there are.
  uint64_t block_start = 0;
  size_t block_bytes = 0;

  // The archive's offset of `bytes`, when libarchive gave them straight from `block` rather
  // than from a buffer of its own (where it decodes).
  std::optional<uint64_t> OffsetOf(std::span<const uint8_t> bytes) const {
    const uint8_t* base = block.data();
    if (bytes.data() < base || bytes.data() + bytes.size() > base + block_bytes) {
      return std::nullopt;
    }
    return block_start + static_cast<uint64_t>(bytes.data() - base);
  }
};

la_ssize_t ReadBlock(struct archive*, void* data, const void** out) {
  auto* source = static_cast<Source*>(data);
  *out = source->block.data();
  if (source->position >= source->size) return 0;
  // A ZIP's entries are each sought from the central directory: one block read often holds
  // several of them.
  if (source->position >= source->block_start &&
      source->position - source->block_start < source->block_bytes) {
    const size_t skipped = static_cast<size_t>(source->position - source->block_start);
    *out = source->block.data() + skipped;
    source->position += source->block_bytes - skipped;
    return static_cast<la_ssize_t>(source->block_bytes - skipped);
  }
  if (source->file->Seek(static_cast<int64_t>(source->position), SeekOrigin::kBegin) !=
      source->position) {
    return ARCHIVE_FATAL;
  }
  const bool goes_on = source->position == source->block_start + source->block_bytes;
  const uint32_t wanted = static_cast<uint32_t>(std::min<uint64_t>(
      goes_on ? kBlockBytes : source->sought_read, source->size - source->position));
  const uint32_t got = source->file->Read(source->block.data(), wanted);
  if (got == 0) return ARCHIVE_FATAL;
  source->block_start = source->position;
  source->block_bytes = got;
  source->position += got;
  return got;
}

la_int64_t SkipBytes(struct archive*, void* data, la_int64_t request) {
  auto* source = static_cast<Source*>(data);
  if (request <= 0) return 0;
  const uint64_t skipped =
      std::min<uint64_t>(static_cast<uint64_t>(request), source->size - source->position);
  source->position += skipped;
  return static_cast<la_int64_t>(skipped);
}

la_int64_t SeekTo(struct archive*, void* data, la_int64_t offset, int whence) {
  auto* source = static_cast<Source*>(data);
  int64_t base = 0;
  if (whence == SEEK_CUR) base = static_cast<int64_t>(source->position);
  if (whence == SEEK_END) base = static_cast<int64_t>(source->size);
  const int64_t target = base + offset;
  if (target < 0) return ARCHIVE_FATAL;
  source->position = std::min<uint64_t>(static_cast<uint64_t>(target), source->size);
  return static_cast<la_int64_t>(source->position);
}

// Whether the ZIP entry whose header was read last is compressed: libarchive names the format
// after the entry's method, "ZIP 1.0 (uncompressed)" for a stored one, and tells it no other
// way.
bool IsPackedZipEntry(struct archive* archive) {
  const char* name = archive_format_name(archive);
  return (archive_format(archive) & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_ZIP &&
         name != nullptr && std::strstr(name, "uncompressed") == nullptr;
}

// Why an entry's data could not be read, as libarchive's message tells it.
IncompleteReason ReasonOfFailure(struct archive* archive, struct archive_entry* entry) {
  if (entry != nullptr && archive_entry_is_data_encrypted(entry)) {
    return IncompleteReason::kEncrypted;
  }
  const char* message = archive_error_string(archive);
  const std::string_view text = message != nullptr ? message : "";
  if (text.find("nsupported") != std::string_view::npos ||
      text.find("not supported") != std::string_view::npos) {
    return IncompleteReason::kUnsupported;
  }
  if (text.find("ncrypt") != std::string_view::npos ||
      text.find("assphrase") != std::string_view::npos) {
    return IncompleteReason::kEncrypted;
  }
  return IncompleteReason::kDamaged;
}

// The name a gzip member stored for its data, when it stored one.
std::string GzipStoredName(std::span<const uint8_t> head) {
  constexpr uint8_t kExtra = 0x04;
  constexpr uint8_t kName = 0x08;
  if (head.size() < 10 || head[0] != 0x1F || head[1] != 0x8B || (head[3] & kName) == 0) return "";
  size_t at = 10;
  if ((head[3] & kExtra) != 0) {
    if (at + 2 > head.size()) return "";
    at += 2 + (head[at] | (head[at + 1] << 8));
  }
  std::string name;
  while (at < head.size() && head[at] != 0) name += static_cast<char>(head[at++]);
  return at < head.size() ? name : "";
}

// Whether the file starts as what libarchive took it for: its outermost layer, the filter
// that reads the file or else the format, starts as its kind. Filters of other kinds than the
// contract's are not taken.
bool StartsAsItsKind(struct archive* archive, const LibarchiveKind& format,
                     std::span<const uint8_t> head) {
  const int filters = archive_filter_count(archive) - 1;  // the last one reads the file
  for (int i = 0; i < filters; ++i) {
    if (FilterRow(archive_filter_code(archive, i)) == nullptr) return false;
  }
  if (filters == 0) return StartsAs(format, head);
  return StartsAs(*FilterRow(archive_filter_code(archive, filters - 1)), head);
}

class LibarchiveReader : public ArchiveReader {
 public:
  LibarchiveReader(ArchiveReadHandle archive, std::unique_ptr<Source> source, bool raw,
                   std::string raw_name, bool skips_cheaply, std::optional<ContainerKind> in_place,
                   const LibarchiveKind* apart)
      : source_(std::move(source)),
        archive_(std::move(archive)),
        raw_(raw),
        raw_name_(std::move(raw_name)),
        skips_cheaply_(skips_cheaply),
        in_place_kind_(in_place),
        apart_(apart) {}
  LibarchiveReader(const LibarchiveReader&) = delete;
  LibarchiveReader& operator=(const LibarchiveReader&) = delete;

  // The first header was read when the archive was recognised.
  void TakeFirst(struct archive_entry* entry) {
    pending_ = Describe(entry);
    StartEntry(entry);
  }

  std::optional<ArchiveEntry> NextEntry() override {
    if (pending_) {
      std::optional<ArchiveEntry> first = std::move(pending_);
      pending_.reset();
      ++entries_given_;
      return first;
    }
    if (broke_off_ && successor_ == nullptr) Resume();
    if (successor_ != nullptr) return successor_->NextEntry();
    if (ended_) return std::nullopt;
    Utf8Names names;
    struct archive_entry* entry = nullptr;
    const int status = archive_read_next_header(archive_.get(), &entry);
    if (status == ARCHIVE_EOF) {
      ended_ = true;
      return std::nullopt;
    }
    if (status < ARCHIVE_WARN) {
      ended_ = true;
      damaged_ = true;
      return std::nullopt;
    }
    StartEntry(entry);
    ++entries_given_;
    return Describe(entry);
  }

  EntryRead ReadData(void* buffer, size_t length) override {
    if (successor_ != nullptr) return successor_->ReadData(buffer, length);
    if (data_.empty() && hole_ == 0 && !failure_ && !data_ended_) FetchBlock();
    if (hole_ > 0) {
      const size_t zeros = static_cast<size_t>(std::min<uint64_t>(hole_, length));
      std::memset(buffer, 0, zeros);
      hole_ -= zeros;
      produced_ += zeros;
      return {zeros, std::nullopt};
    }
    if (!data_.empty()) {
      const size_t count = std::min(data_.size(), length);
      std::memcpy(buffer, data_.data(), count);
      data_ = data_.subspan(count);
      produced_ += count;
      return {count, std::nullopt};
    }
    if (failure_) return {0, failure_};
    return {};
  }

  std::optional<EntryInPlace> FindInPlace() override {
    if (successor_ != nullptr) return successor_->FindInPlace();
    if (!in_place_kind_ || produced_ != 0 || !data_.empty() || entry_ == nullptr) {
      return std::nullopt;
    }
    if (!archive_entry_size_is_set(entry_) || archive_entry_sparse_count(entry_) != 0) {
      return std::nullopt;
    }
    const uint64_t size =
        static_cast<uint64_t>(std::max<la_int64_t>(0, archive_entry_size(entry_)));
    FetchBlock();
    // An entry that one read gives whole is read as any other, its check sum tested; so is
    // one a twin's short read after a seek cut, which the scan's own reader would have had
    // whole.
    if (hole_ != 0 || data_.size() >= size) return std::nullopt;
    if (source_->sought_read < kBlockBytes && size <= kBlockBytes) return std::nullopt;
    const std::optional<uint64_t> start = source_->OffsetOf(data_);
    if (!start) return std::nullopt;
    const bool zip = in_place_kind_ == ContainerKind::kZip;
    if (zip && !IsStoredZipEntry(*source_->file, *start, size)) return std::nullopt;
    if (const int skipped = archive_read_data_skip(archive_.get()); skipped < ARCHIVE_OK) {
      NoteFailure(skipped);
      return std::nullopt;
    }
    data_ = {};
    data_ended_ = true;
    // A tar member's skip ends past its data and padding; one cut short is damage, as
    // reading it would have found. A ZIP's skip moves nothing: the next header is sought.
    const uint64_t end = *start + size;
    const uint64_t skipped_to = PackedBytesRead();
    if (end > source_->size || (!zip && (skipped_to < end || skipped_to - end >= kTarBlock))) {
      failure_ = IncompleteReason::kDamaged;
      return std::nullopt;
    }
    // Read in turns, the entry's bytes get a handle with a position of their own: the reader
    // may go on on another thread while they are read.
    std::shared_ptr<File> holder = source_->file;
    if (turns_ != nullptr) holder = turns_->Another();
    return EntryInPlace{std::move(holder), *start, size};
  }

  uint64_t PackedBytesRead() const override {
    const auto own =
        static_cast<uint64_t>(std::max<la_int64_t>(0, archive_filter_bytes(archive_.get(), -1)));
    return successor_ != nullptr ? own + successor_->PackedBytesRead() : own;
  }
  bool Damaged() const override { return successor_ != nullptr ? successor_->Damaged() : damaged_; }
  std::optional<IncompleteReason> LeftUnread() const override {
    if (successor_ != nullptr) return successor_->LeftUnread();
    return broke_off_ ? std::optional(IncompleteReason::kDamaged) : std::nullopt;
  }
  bool SkipsCheaply() const override { return skips_cheaply_; }

  std::unique_ptr<ArchiveReader> Twin() override;

 private:
  // After a fatal error in an entry's data, libarchive gives nothing more of the archive. Where
  // entries lie apart (a ZIP's central directory names every one), a twin goes on from the
  // entry after it, and this reader hands everything on to it; elsewhere, or when the twin
  // cannot reach that entry, the rest is left unread, and LeftUnread says so.
  void Resume() {
    std::unique_ptr<ArchiveReader> twin = Twin();
    if (twin == nullptr) return;
    for (size_t given = 0; given < entries_given_; ++given) {
      if (!twin->NextEntry()) return;
    }
    successor_ = std::move(twin);
  }

  ArchiveEntry Describe(struct archive_entry* entry) const {
    ArchiveEntry described;
    if (raw_) {
      described.path = ArchiveDisplayPath(raw_name_);
    } else {
      const char* utf8 = archive_entry_pathname_utf8(entry);
      const char* stored = utf8 != nullptr ? utf8 : archive_entry_pathname(entry);
      described.path = ArchiveDisplayPath(stored != nullptr ? stored : "");
    }
    described.regular = raw_ || archive_entry_filetype(entry) == AE_IFREG;
    if (!raw_ && archive_entry_size_is_set(entry)) {
      described.size = static_cast<uint64_t>(std::max<la_int64_t>(0, archive_entry_size(entry)));
    }
    if (archive_entry_is_encrypted(entry)) described.unreadable = IncompleteReason::kEncrypted;
    described.packed = !raw_ && IsPackedZipEntry(archive_.get());
    return described;
  }

  void StartEntry(struct archive_entry* entry) {
    entry_ = entry;
    data_ = {};
    hole_ = 0;
    produced_ = 0;
    failure_.reset();
    data_ended_ = false;
  }

  // The next block libarchive gives of the entry's data; a sparse entry's holes read as zeros.
  void FetchBlock() {
    const void* block = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    const int status = archive_read_data_block(archive_.get(), &block, &size, &offset);
    if (status == ARCHIVE_EOF) {
      data_ended_ = true;
      return;
    }
    if (status < ARCHIVE_OK) {
      NoteFailure(status);
      return;
    }
    if (offset < 0 || static_cast<uint64_t>(offset) < produced_) {
      failure_ = IncompleteReason::kDamaged;
      return;
    }
    hole_ = static_cast<uint64_t>(offset) - produced_;
    data_ = std::span(static_cast<const uint8_t*>(block), size);
  }

  void NoteFailure(int status) {
    failure_ = ReasonOfFailure(archive_.get(), entry_);
    // After a fatal error the archive can give nothing more: what follows the entry is
    // left unread, and said so.
    if (status == ARCHIVE_FATAL) ended_ = broke_off_ = true;
  }

  // Declared after the source its callbacks read, so that it is freed first.
  std::unique_ptr<Source> source_;
  ArchiveReadHandle archive_;
  bool raw_;
  std::string raw_name_;
  bool skips_cheaply_;
  // ZIP or tar, unfiltered: where an entry's data may lie in the archive as it is.
  std::optional<ContainerKind> in_place_kind_;
  // The kind's row where its entries decode apart, for twins (null in a twin).
  const LibarchiveKind* apart_;
  // The handle this reader reads the file through in turns: from its first twin on, and in
  // a twin.
  std::shared_ptr<TurnTakingFile> turns_;
  std::optional<ArchiveEntry> pending_;
  struct archive_entry* entry_ = nullptr;
  bool ended_ = false;
  bool broke_off_ = false;  // a fatal error in an entry's data ended the entries
  size_t entries_given_ = 0;
  std::unique_ptr<ArchiveReader> successor_;  // going on after broke_off_
  bool damaged_ = false;
  // The current entry's data: what libarchive gave and the scan has not taken yet, the zeros
  // of a hole still to give, how much was given, and how it ended.
  std::span<const uint8_t> data_;
  uint64_t hole_ = 0;
  uint64_t produced_ = 0;
  std::optional<IncompleteReason> failure_;
  bool data_ended_ = false;
};

// A reader of every kind, or of `only` alone (then without the filters and the raw reader).
ArchiveReadHandle NewReader(Source* source, const LibarchiveKind* only) {
  ArchiveReadHandle handle(archive_read_new());
  struct archive* archive = handle.get();
  std::string options;
  if (only != nullptr) {
    only->support(archive);
    options = only->options;
  } else {
    archive_read_support_filter_all(archive);
    for (const LibarchiveKind& row : kKinds) {
      if (row.support != nullptr) row.support(archive);
      if (row.options.empty()) continue;
      if (!options.empty()) options += ',';
      options += row.options;
    }
    archive_read_support_format_raw(archive);
  }
  archive_read_set_options(archive, options.c_str());
  archive_read_set_callback_data(archive, source);
  archive_read_set_read_callback(archive, &ReadBlock);
  archive_read_set_skip_callback(archive, &SkipBytes);
  archive_read_set_seek_callback(archive, &SeekTo);
  return handle;
}

int FirstHeader(struct archive* archive, struct archive_entry** entry) {
  return archive_read_open1(archive) == ARCHIVE_OK ? archive_read_next_header(archive, entry)
                                                   : ARCHIVE_FATAL;
}

std::unique_ptr<ArchiveReader> LibarchiveReader::Twin() {
  if (apart_ == nullptr) return nullptr;
  // From the first twin on this reader too reads the file in turns: twins read on while the
  // scan goes on with it.
  if (turns_ == nullptr) {
    turns_ = std::make_shared<TurnTakingFile>(source_->file, source_->size);
    source_->file = turns_;
  }
  auto source = std::make_unique<Source>();
  std::shared_ptr<TurnTakingFile> turns = turns_->Another();
  source->file = turns;
  source->size = source_->size;
  source->sought_read = kSoughtTwinRead;
  Utf8Names names;
  ArchiveReadHandle handle = NewReader(source.get(), apart_);
  struct archive_entry* entry = nullptr;
  const int header = FirstHeader(handle.get(), &entry);
  if (header != ARCHIVE_OK && header != ARCHIVE_WARN) return nullptr;
  auto twin = std::make_unique<LibarchiveReader>(std::move(handle), std::move(source), false, "",
                                                 skips_cheaply_, in_place_kind_, nullptr);
  twin->turns_ = std::move(turns);
  twin->TakeFirst(entry);
  return twin;
}

bool MayBe(const LibarchiveKind& row, std::span<const uint8_t> head, uint64_t size) {
  if (row.magic.empty()) return row.may_be != nullptr && row.may_be(head, size);
  // Most heads differ from a magic at its first byte: asked of every file, so kept cheap.
  return !head.empty() && head[0] == static_cast<uint8_t>(row.magic[0]) && StartsAs(row, head);
}

// Has libarchive recognise the archive in `source` (with every kind's reader, or `only`'s) and
// opens it when it holds an entry and starts as its kind: `head` is its first bytes.
// `oversized`: an .lzma stream's header names too large a dictionary.
std::optional<OpenedContainer> OpenWith(std::unique_ptr<Source> source,
                                        std::span<const uint8_t> head, const LibarchiveKind* only,
                                        bool oversized) {
  Utf8Names names;
  ArchiveReadHandle handle = NewReader(source.get(), only);
  struct archive* archive = handle.get();
  struct archive_entry* entry = nullptr;
  const int header = FirstHeader(archive, &entry);
  const int format = archive_format(archive);
  const int filter = archive_filter_count(archive) > 1 ? archive_filter_code(archive, 0) : 0;
  const bool raw = (format & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_RAW;
  // A lone stream is of its filter's kind.
  const LibarchiveKind* row = raw ? FilterRow(filter) : FormatRow(format);
  // An archive with no entry at all (a tar's end mark alone) is no archive either.
  const bool has_entry = header == ARCHIVE_OK || header == ARCHIVE_WARN;
  if (!has_entry || row == nullptr || !StartsAsItsKind(archive, *row, head)) {
    return std::nullopt;
  }
  OpenedContainer opened;
  opened.kind = row->kind;
  if (filter == ARCHIVE_FILTER_LZMA && oversized) {
    opened.damage.push_back({"", IncompleteReason::kSize});
    return opened;
  }
  const bool skips_cheaply = filter == 0 && row->skips_cheaply;
  const bool lies_in_place = filter == 0 && row->lies_in_place;
  const bool apart = !raw && filter == 0 && row->decodes_apart;
  auto reader = std::make_unique<LibarchiveReader>(
      std::move(handle), std::move(source), raw, raw ? GzipStoredName(head) : "", skips_cheaply,
      lies_in_place ? std::optional(row->kind) : std::nullopt, apart ? row : nullptr);
  reader->TakeFirst(entry);
  opened.archive = std::move(reader);
  return opened;
}

std::unique_ptr<Source> SourceOf(std::shared_ptr<File> file, uint64_t size) {
  auto source = std::make_unique<Source>();
  source->file = std::move(file);
  source->size = size;
  return source;
}

}  // namespace

std::optional<OpenedContainer> LibarchiveOpener::Open(std::shared_ptr<File> file) {
  if (!file) return std::nullopt;
  const std::optional<uint64_t> size = file->Size();
  if (!size || *size == 0) return std::nullopt;
  std::array<uint8_t, kTarBlock> head{};
  const uint32_t head_bytes = ReadFullyAt(*file, 0, head.data(), head.size());
  const std::span<const uint8_t> head_span(head.data(), head_bytes);
  // libarchive's recognisers read far more than these looks, and search a program for an
  // archive behind its code: a file that no kind may be is not given to them.
  if (std::none_of(std::begin(kKinds), std::end(kKinds), [&](const LibarchiveKind& row) {
        return MayBe(row, head_span, *size) &&
               (row.kind != ContainerKind::kIso9660 || HasIsoDescriptor(*file));
      })) {
    return std::nullopt;
  }
  const std::span<const uint8_t> dictionary_head =
      head_span.first(std::min<size_t>(head_bytes, kDictionaryHead));

  // A decoder that would take more memory than any DOS-era archive needs is not started
  // (the decoder itself may refuse such a stream, which must not pass for no archive).
  // A 7z archive names its coders in its header, at the archive's end, beyond the head.
  const std::optional<uint64_t> dictionary = StreamDictionarySize(dictionary_head);
  const bool oversized = dictionary && *dictionary > kMaxDictionary;
  const bool seven_zip = StartsAs(*FormatRow(ARCHIVE_FORMAT_7ZIP), head_span);
  std::optional<ContainerKind> refused_kind;
  IncompleteReason refusal = IncompleteReason::kSize;
  if (oversized && (head_span[0] == 0xFD || head_span[0] == 0x28)) {
    refused_kind = head_span[0] == 0xFD ? ContainerKind::kXz : ContainerKind::kZstd;
  } else if (seven_zip && SevenZipHeaderIsEncrypted(*file)) {
    // libarchive cannot read such a header at all, which must not pass for no archive.
    refused_kind = ContainerKind::kSevenZip;
    refusal = IncompleteReason::kEncrypted;
  } else if (seven_zip && SevenZipDictionarySize(*file).value_or(0) > kMaxDictionary) {
    refused_kind = ContainerKind::kSevenZip;
  }
  if (refused_kind) {
    OpenedContainer refused;
    refused.kind = *refused_kind;
    refused.damage.push_back({"", refusal});
    return refused;
  }
  return OpenWith(SourceOf(std::move(file), *size), head_span, nullptr, oversized);
}

std::optional<OpenedContainer> LibarchiveOpener::OpenCarriedZip(std::shared_ptr<File> file,
                                                                uint64_t start) {
  if (!file) return std::nullopt;
  const std::optional<uint64_t> size = file->Size();
  std::array<uint8_t, kTarBlock> head{};
  const uint32_t head_bytes = ReadFullyAt(*file, start, head.data(), head.size());
  if (!size || head_bytes == 0) return std::nullopt;
  return OpenWith(SourceOf(std::move(file), *size), std::span(head.data(), head_bytes),
                  FormatRow(ARCHIVE_FORMAT_ZIP), false);
}

bool LibarchiveOpener::MayOpen(std::span<const uint8_t> head, uint64_t size) const {
  return MayOpenHeld(HeldEnds{head, {}, size});
}

bool LibarchiveOpener::MayOpenHeld(const HeldEnds& held) const {
  const std::span<const uint8_t> head =
      held.head.first(std::min(held.head.size(), kContainerHeadBytes));
  return std::any_of(std::begin(kKinds), std::end(kKinds), [&](const LibarchiveKind& row) {
    return MayBe(row, head, held.size) && HeldBytesMayBe(row.kind, held);
  });
}

// One pass over the kinds: only where one kind alone still may take the file can a look settle
// it, and after the look only that kind is asked again, the others having ruled the file out.
bool LibarchiveOpener::MayOpenLooking(HeldEnds& held, const LookReader& read) const {
  const std::span<const uint8_t> head =
      held.head.first(std::min(held.head.size(), kContainerHeadBytes));
  std::optional<ContainerKind> only;
  for (const LibarchiveKind& row : kKinds) {
    if (!MayBe(row, head, held.size) || !HeldBytesMayBe(row.kind, held)) continue;
    if (only && *only != row.kind) return true;
    only = row.kind;
  }
  if (!only) return false;
  const std::optional<BytesWanted> wanted = HeldLookWanted(*only, held);
  if (!wanted) return true;
  held.look = read(*wanted);
  held.look_at = wanted->offset;
  return HeldBytesMayBe(*only, held);
}

uint32_t LibarchiveOpener::TailWanted(std::span<const uint8_t> head, uint64_t size) const {
  return HeldTailWanted(head, size);
}

}  // namespace quarn
