// The detection asks the container opener from the bytes the detectors read: with the tail
// as long as the opener wants it, and the few bytes more it looks for, read on the file
// already open.
#include "shell/file_detection.h"

#include <gtest/gtest.h>

#include "engine/database_builder.h"
#include "engine/section_directory.h"
#include "platform/read_cache_file.h"
#include "platform/test_support/memory_file_system.h"

namespace quarn {
namespace {

constexpr uint64_t kLookAt = 40000;
constexpr uint64_t kFileSize = 100000;

// Takes a file for a container only when it sees "ARCH" where it looks; says "maybe" while
// any of its last kMaxTailSize bytes, or the look, is not held.
class LookingOpener : public ContainerOpener {
 public:
  std::optional<OpenedContainer> Open(std::shared_ptr<File>) override { return std::nullopt; }
  uint32_t TailWanted(std::span<const uint8_t>, uint64_t) const override {
    return ReadCacheFile::kMaxTailSize;
  }
  std::optional<BytesWanted> LookWanted(const HeldEnds&) const override {
    return BytesWanted{kLookAt, 4};
  }
  bool MayOpenHeld(const HeldEnds& held) const override {
    for (uint64_t at = held.size - ReadCacheFile::kMaxTailSize; at < held.size; ++at) {
      if (!held.At(at)) return true;
    }
    for (uint64_t at = kLookAt; at < kLookAt + 4; ++at) {
      if (held.At(at) != static_cast<uint8_t>("ARCH"[at - kLookAt])) return !held.At(at);
    }
    return true;
  }
};

TEST(FileDetection, TheOpenerDecidesFromTheTailItWantedAndTheBytesItLookedAt) {
  // A record of the file-end section makes the detectors read the file's end.
  DatabaseContent content;
  content.sections[kComEndSection].records.push_back(std::vector<uint8_t>(kEndSignatureRecordSize));
  const DatabaseImage signatures(BuildSignatureImage(content).value());
  MemoryFileSystem files;
  std::vector<uint8_t> bytes(kFileSize, 'x');
  ASSERT_TRUE(files.AddFile("/PLAIN.DAT", bytes).ok());
  std::copy_n("ARCH", 4, bytes.begin() + kLookAt);
  ASSERT_TRUE(files.AddFile("/MARKED.DAT", bytes).ok());
  auto folder = files.OpenFolder("/");
  ASSERT_TRUE(folder.ok());
  const LookingOpener opener;
  for (const auto& [name, may_be] :
       {std::pair{"PLAIN.DAT", false}, std::pair{"MARKED.DAT", true}}) {
    const FileDetection detection = DetectFileIn(signatures, **folder, name, false, &opener);
    ASSERT_TRUE(detection.opened) << name;
    EXPECT_EQ(detection.may_be_container, may_be) << name;
  }
}

}  // namespace
}  // namespace quarn
