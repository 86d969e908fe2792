#include "containers/archives/lha_opener.h"

#include <lhasa.h>

#include <algorithm>
#include <array>
#include <climits>
#include <string_view>

#include "containers/crc16.h"
#include "containers/archives/lha_names.h"

namespace quarn {
namespace {

// What recognition looks at, where every header level keeps it.
constexpr size_t kMethodOffset = 2;
constexpr size_t kMethodLength = 5;
constexpr size_t kLevelOffset = 20;
constexpr uint8_t kHighestLevel = 3;
// How much of a header liblhasa reads before it knows the header's level.
constexpr size_t kCommonHeaderBytes = 22;
// A header that starts with a 0 byte ends the archive; what follows it is padding.
constexpr uint8_t kEndOfArchive = 0;
constexpr std::string_view kFolderMethod = LHA_COMPRESS_TYPE_DIR;

// The method ids that liblhasa takes for the start of an archive: "-lh?-", the LArc methods
// "-lz4-", "-lz5-" and "-lzs-", and "-pm?-" except the "-pms-" of PMarc's own programs.
bool IsArchiveMethod(std::span<const uint8_t, kMethodLength> id) {
  const auto at = [&](size_t index, char c) { return id[index] == static_cast<uint8_t>(c); };
  if (!at(0, '-') || !at(4, '-')) return false;
  if (at(1, 'l') && at(2, 'h')) return true;
  if (at(1, 'l') && at(2, 'z')) return at(3, '4') || at(3, '5') || at(3, 's');
  return at(1, 'p') && at(2, 'm') && !at(3, 's');
}

// Whether the bytes start with a header the library would read from their first byte on.
// Anything else would send it looking further on for an archive, as it does past a
// self-extractor's code.
bool StartsWithHeader(std::span<const uint8_t> head) {
  return head.size() >= kCommonHeaderBytes &&
         IsArchiveMethod(head.subspan(kMethodOffset).first<kMethodLength>()) &&
         head[kLevelOffset] <= kHighestLevel;
}

// Reads `length` bytes unless the file ends or fails first: a read may come short.
size_t ReadFully(File& file, uint8_t* buffer, size_t length) {
  size_t got = 0;
  while (got < length) {
    const uint32_t read =
        file.Read(buffer + got, static_cast<uint32_t>(std::min<size_t>(length - got, UINT32_MAX)));
    if (read == 0) break;
    got += read;
  }
  return got;
}

// The archive's bytes as liblhasa's input stream takes them, from the front. Keeps where the
// header read last began and its first byte, to tell the archive's end from a header that
// breaks off, and whether the file failed a read its size promised.
struct Source {
  std::shared_ptr<File> file;
  uint64_t size = 0;
  uint64_t position = 0;
  bool awaiting_header = false;
  std::optional<uint64_t> header_start;
  std::optional<uint8_t> header_first_byte;
  bool failed = false;

  void AwaitHeader() {
    awaiting_header = true;
    header_start.reset();
    header_first_byte.reset();
  }
  // Whether the header that did not come was the end mark, or nothing at all.
  bool EndedCleanly() const {
    return !failed && header_start && (!header_first_byte || *header_first_byte == kEndOfArchive);
  }
  uint64_t Left() const { return size - std::min(position, size); }
};

// Fills the whole request unless the archive ends: liblhasa takes a short read for a failure.
int ReadArchive(void* handle, void* buffer, size_t length) {
  auto* source = static_cast<Source*>(handle);
  const bool header = source->awaiting_header;
  if (header) {
    source->awaiting_header = false;
    source->header_start = source->position;
  }
  const size_t wanted = static_cast<size_t>(std::min<uint64_t>({length, source->Left(), INT_MAX}));
  if (wanted == 0) return 0;
  if (source->file->Seek(static_cast<int64_t>(source->position), SeekOrigin::kBegin) !=
      source->position) {
    source->failed = true;
    return -1;
  }
  auto* bytes = static_cast<uint8_t*>(buffer);
  const size_t got = ReadFully(*source->file, bytes, wanted);
  // The file ends before its size: it shrank, or it fails.
  if (got < wanted) source->failed = true;
  if (header && got > 0) source->header_first_byte = bytes[0];
  source->position += got;
  return static_cast<int>(got);
}

// Passes over the data of an entry that was not read; fails past the archive's end. Without
// it liblhasa would skip by reading, and loop for ever at the end of a truncated archive.
int SkipArchive(void* handle, size_t length) {
  auto* source = static_cast<Source*>(handle);
  if (length > source->Left()) {
    source->position = source->size;
    return 0;
  }
  source->position += length;
  return 1;
}

const LHAInputStreamType kStreamType = {&ReadArchive, &SkipArchive, nullptr};

// The entry being read: what its header promised, and what its data gave so far.
struct CurrentEntry {
  std::optional<IncompleteReason> unreadable;
  bool finished = false;
  std::optional<IncompleteReason> failure;
  uint64_t length = 0;
  uint16_t crc = 0;
  uint64_t produced = 0;
  uint16_t running_crc = 0;
};

class LhaReader : public ArchiveReader {
 public:
  explicit LhaReader(std::unique_ptr<Source> source) : source_(std::move(source)) {
    stream_ = lha_input_stream_new(&kStreamType, source_.get());
    if (stream_ != nullptr) reader_ = lha_reader_new(stream_);
    // Only extraction stacks folders to give them again: this keeps to one of each.
    if (reader_ != nullptr) lha_reader_set_dir_policy(reader_, LHA_READER_DIR_PLAIN);
  }
  ~LhaReader() override {
    if (reader_ != nullptr) lha_reader_free(reader_);
    if (stream_ != nullptr) lha_input_stream_free(stream_);
  }
  LhaReader(const LhaReader&) = delete;
  LhaReader& operator=(const LhaReader&) = delete;

  // Reads the first header, kept for the first NextEntry; false when it does not parse.
  bool Start() {
    if (reader_ == nullptr) return false;
    pending_ = NextEntry();
    return pending_.has_value();
  }

  std::optional<ArchiveEntry> NextEntry() override {
    if (pending_) {
      std::optional<ArchiveEntry> first = std::move(pending_);
      pending_.reset();
      return first;
    }
    current_.reset();
    if (ended_) return std::nullopt;
    source_->AwaitHeader();
    LHAFileHeader* header = lha_reader_next_file(reader_);
    if (header == nullptr) {
      ended_ = true;
      damaged_ = !source_->EndedCleanly();
      return std::nullopt;
    }
    return Begin(*header);
  }

  EntryRead ReadData(void* buffer, size_t length) override {
    if (!current_) return {};
    if (current_->unreadable) return {0, current_->unreadable};
    if (current_->finished || length == 0) return {0, current_->failure};
    const size_t got = lha_reader_read(reader_, buffer, length);
    if (got > 0) {
      current_->produced += got;
      current_->running_crc =
          UpdateCrc16(current_->running_crc, static_cast<uint8_t*>(buffer), got);
      return {got, std::nullopt};
    }
    // The decoder stops at the length the header gives or where the packed data ran out.
    current_->finished = true;
    if (current_->produced != current_->length || current_->running_crc != current_->crc) {
      current_->failure = IncompleteReason::kDamaged;
    }
    return {0, current_->failure};
  }

  uint64_t PackedBytesRead() const override { return source_->position; }
  bool Damaged() const override { return damaged_; }
  // Every entry's packed data stands alone: passing over it moves the position, no more.
  bool SkipsCheaply() const override { return true; }

 private:
  ArchiveEntry Begin(LHAFileHeader& header) {
    ArchiveEntry entry;
    entry.path = LhaDisplayPath(header.path != nullptr ? header.path : "",
                                header.filename != nullptr ? header.filename : "", header.os_type,
                                std::span(header.raw_data, header.raw_data_len));
    entry.regular = kFolderMethod != header.compress_method;
    entry.size = header.length;
    if (entry.regular && lha_decoder_for_name(header.compress_method) == nullptr) {
      entry.unreadable = IncompleteReason::kUnsupported;
    }
    CurrentEntry current;
    current.unreadable = entry.unreadable;
    current.finished = !entry.regular;
    current.length = header.length;
    current.crc = header.crc;
    current_ = current;
    // The library would strip what it takes for MacLHA's MacBinary header from the data,
    // which the header's CRC covers: the data stays whole, so it can be checked and scanned.
    if (header.os_type == LHA_OS_TYPE_MACOS) header.os_type = LHA_OS_TYPE_UNKNOWN;
    return entry;
  }

  std::unique_ptr<Source> source_;
  LHAInputStream* stream_ = nullptr;
  LHAReader* reader_ = nullptr;
  std::optional<ArchiveEntry> pending_;
  std::optional<CurrentEntry> current_;
  bool ended_ = false;
  bool damaged_ = false;
};

}  // namespace

std::optional<OpenedContainer> LhaOpener::Open(std::shared_ptr<File> file) {
  if (!file) return std::nullopt;
  const std::optional<uint64_t> size = file->Size();
  if (!size || *size < kCommonHeaderBytes) return std::nullopt;
  std::array<uint8_t, kCommonHeaderBytes> head{};
  if (file->Seek(0, SeekOrigin::kBegin) != 0u ||
      ReadFully(*file, head.data(), head.size()) != head.size() || !StartsWithHeader(head)) {
    return std::nullopt;
  }
  auto source = std::make_unique<Source>();
  source->file = std::move(file);
  source->size = *size;
  auto reader = std::make_unique<LhaReader>(std::move(source));
  if (!reader->Start()) return std::nullopt;
  OpenedContainer opened;
  opened.kind = ContainerKind::kLha;
  opened.archive = std::move(reader);
  return opened;
}

bool LhaOpener::MayOpen(std::span<const uint8_t> head, uint64_t size) const {
  return size >= kCommonHeaderBytes && StartsWithHeader(head);
}

}  // namespace quarn
