#include "containers/archives/szdd_opener.h"

#include <mspack.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "containers/entry_spool.h"
#include "platform/text_encoding.h"

namespace quarn {
namespace {

constexpr uint8_t kSzddMagic[] = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33};
constexpr uint8_t kQbasicMagic[] = {'S', 'Z', ' ', 0x88, 0xF0, 0x27, 0x33, 0xD1};
constexpr size_t kSzddHeaderBytes = 14;    // magic, method 'A', last character, length
constexpr size_t kQbasicHeaderBytes = 12;  // magic, length
constexpr uint8_t kLzssMethod = 'A';

bool StartsAsSzdd(std::span<const uint8_t> head) {
  if (head.size() >= kSzddHeaderBytes &&
      std::equal(std::begin(kSzddMagic), std::end(kSzddMagic), head.begin())) {
    return head[8] == kLzssMethod;
  }
  return head.size() >= kQbasicHeaderBytes &&
         std::equal(std::begin(kQbasicMagic), std::end(kQbasicMagic), head.begin());
}

// The two ends libmspack reads and writes through, handed to it as its "file names": the
// archive, read from the front, and the entry's spool, which takes at most `limit` bytes.
struct Handle {
  enum class Role { kArchive, kSpool } role;
  File* archive = nullptr;
  uint64_t position = 0;
  uint64_t read = 0;  // bytes taken from the archive
  EntrySpool* spool = nullptr;
  uint64_t limit = 0;
  bool overran = false;  // the data went past the length the header gives
  bool failed = false;   // a read or the spool failed
};

mspack_file* OpenHandle(mspack_system*, const char* name, int) {
  // The name is the handle itself: libmspack never opens anything by a real name here.
  return reinterpret_cast<mspack_file*>(const_cast<char*>(name));
}

void CloseHandle(mspack_file*) {}

int ReadHandle(mspack_file* file, void* buffer, int bytes) {
  auto* handle = reinterpret_cast<Handle*>(file);
  if (handle->role != Handle::Role::kArchive || bytes < 0) return -1;
  if (handle->archive->Seek(static_cast<int64_t>(handle->position), SeekOrigin::kBegin) !=
      handle->position) {
    handle->failed = true;
    return -1;
  }
  int got = 0;
  while (got < bytes) {
    const uint32_t read = handle->archive->Read(static_cast<uint8_t*>(buffer) + got,
                                                static_cast<uint32_t>(bytes - got));
    if (read == 0) break;
    got += static_cast<int>(read);
  }
  handle->position += static_cast<uint64_t>(got);
  handle->read = std::max(handle->read, handle->position);
  return got;
}

int WriteHandle(mspack_file* file, void* buffer, int bytes) {
  auto* handle = reinterpret_cast<Handle*>(file);
  if (handle->role != Handle::Role::kSpool || bytes < 0) return -1;
  const uint64_t room = handle->limit - handle->spool->size();
  if (static_cast<uint64_t>(bytes) > room) {
    handle->overran = true;
    return -1;
  }
  if (!handle->spool->Append(static_cast<uint8_t*>(buffer), static_cast<size_t>(bytes)).ok()) {
    handle->failed = true;
    return -1;
  }
  return bytes;
}

int SeekHandle(mspack_file* file, off_t offset, int mode) {
  auto* handle = reinterpret_cast<Handle*>(file);
  if (handle->role != Handle::Role::kArchive) return -1;
  const std::optional<uint64_t> size = handle->archive->Size();
  int64_t base = 0;
  if (mode == MSPACK_SYS_SEEK_CUR) base = static_cast<int64_t>(handle->position);
  if (mode == MSPACK_SYS_SEEK_END) base = size ? static_cast<int64_t>(*size) : 0;
  if (base + offset < 0) return -1;
  handle->position = static_cast<uint64_t>(base + offset);
  return 0;
}

off_t TellHandle(mspack_file* file) {
  return static_cast<off_t>(reinterpret_cast<Handle*>(file)->position);
}

void Message(mspack_file*, const char*, ...) {}
void* Allocate(mspack_system*, size_t bytes) {
  return std::malloc(bytes);
}
void Free(void* pointer) {
  std::free(pointer);
}
void Copy(void* from, void* to, size_t bytes) {
  std::memmove(to, from, bytes);
}

mspack_system kSystem = {&OpenHandle, &CloseHandle, &ReadHandle, &WriteHandle,
                         &SeekHandle, &TellHandle,  &Message,    &Allocate,
                         &Free,       &Copy,        nullptr};

const char* AsName(Handle& handle) {
  return reinterpret_cast<const char*>(&handle);
}

class SzddReader : public ArchiveReader {
 public:
  explicit SzddReader(std::shared_ptr<File> file) : file_(std::move(file)) {
    archive_.role = Handle::Role::kArchive;
    archive_.archive = file_.get();
    decompressor_ = mspack_create_szdd_decompressor(&kSystem);
  }
  ~SzddReader() override {
    if (decompressor_ == nullptr) return;
    if (header_ != nullptr) decompressor_->close(decompressor_, header_);
    mspack_destroy_szdd_decompressor(decompressor_);
  }
  SzddReader(const SzddReader&) = delete;
  SzddReader& operator=(const SzddReader&) = delete;

  // Reads the header; false when libmspack does not take it.
  bool Start() {
    if (decompressor_ == nullptr) return false;
    header_ = decompressor_->open(decompressor_, const_cast<char*>(AsName(archive_)));
    return header_ != nullptr && header_->length >= 0;
  }

  std::optional<ArchiveEntry> NextEntry() override {
    if (given_) return std::nullopt;
    given_ = true;
    ArchiveEntry entry;
    entry.size = static_cast<uint64_t>(header_->length);
    // A character DOS names cannot hold (a control character, or none stored) is no name.
    const auto last = static_cast<uint8_t>(header_->missing_char);
    if (last > ' ' && last != 0x7F)
      entry.last_name_character = CodePage437ToUtf8(std::span(&last, 1));
    return entry;
  }

  EntryRead ReadData(void* buffer, size_t length) override {
    if (!given_) return {};
    if (!decoded_) Decode();
    if (failure_) return {0, failure_};
    const uint32_t got =
        spooled_->Read(buffer, static_cast<uint32_t>(std::min<size_t>(length, UINT32_MAX)));
    return {got, std::nullopt};
  }

  uint64_t PackedBytesRead() const override { return archive_.read; }
  bool Damaged() const override { return false; }
  bool SkipsCheaply() const override { return false; }

 private:
  void Decode() {
    decoded_ = true;
    Handle output;
    output.role = Handle::Role::kSpool;
    output.spool = &spool_;
    output.limit = static_cast<uint64_t>(header_->length);
    const int status =
        decompressor_->extract(decompressor_, header_, const_cast<char*>(AsName(output)));
    if (status != MSPACK_ERR_OK || output.overran || output.failed || archive_.failed ||
        spool_.size() != output.limit) {
      failure_ = IncompleteReason::kDamaged;
      return;
    }
    spooled_ = spool_.Open();
  }

  std::shared_ptr<File> file_;
  Handle archive_;
  msszdd_decompressor* decompressor_ = nullptr;
  msszddd_header* header_ = nullptr;
  bool given_ = false;
  bool decoded_ = false;
  EntrySpool spool_;
  std::unique_ptr<File> spooled_;
  std::optional<IncompleteReason> failure_;
};

}  // namespace

std::optional<OpenedContainer> SzddOpener::Open(std::shared_ptr<File> file) {
  if (!file) return std::nullopt;
  std::array<uint8_t, kSzddHeaderBytes> head{};
  if (file->Seek(0, SeekOrigin::kBegin) != 0u) return std::nullopt;
  const uint32_t got = file->Read(head.data(), static_cast<uint32_t>(head.size()));
  if (!StartsAsSzdd(std::span(head.data(), got))) return std::nullopt;
  auto reader = std::make_unique<SzddReader>(std::move(file));
  if (!reader->Start()) return std::nullopt;
  OpenedContainer opened;
  opened.kind = ContainerKind::kSzdd;
  opened.archive = std::move(reader);
  return opened;
}

bool SzddOpener::MayOpen(std::span<const uint8_t> head, uint64_t) const {
  return StartsAsSzdd(head);
}

}  // namespace quarn
