#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/file_verdict.h"
#include "platform/file.h"
#include "platform/memory_file_system.h"

namespace quarn::corpus {

struct CorpusFile {
  std::string name;
  std::vector<uint8_t> bytes;
};

// Every sample of the sample set, then `generated` files drawn from `seed`: random bytes,
// text, COM programs whose first instruction jumps or calls anywhere (near the end too),
// DOS EXEs with entries anywhere (past the end too), PE images, and samples with bytes
// flipped, cut short or lengthened. Sizes include 0, 1, 2, 511, 4095, 4096, 4097, 8191–8193
// and 60 KiB. The same seed gives the same corpus.
std::vector<CorpusFile> BuildDetectionCorpus(uint32_t seed, int generated);

// The corpus's files in memory, opened read-only.
class CorpusFiles {
 public:
  explicit CorpusFiles(const std::vector<CorpusFile>& corpus);
  std::unique_ptr<File> Open(const CorpusFile& file);

 private:
  MemoryFileSystem files_;
};

// A File that passes everything to another and notes every read: where it started and what
// it delivered.
class RecordingFile : public File {
 public:
  struct ReadRecord {
    uint64_t position;
    std::vector<uint8_t> bytes;
    bool operator==(const ReadRecord&) const = default;
  };

  explicit RecordingFile(File& file) : file_(file) {}

  uint32_t Read(void* buffer, uint32_t length) override;
  std::optional<uint64_t> Seek(int64_t offset, SeekOrigin origin) override {
    return file_.Seek(offset, origin);
  }
  uint64_t Position() const override { return file_.Position(); }
  std::optional<uint64_t> Size() override { return file_.Size(); }
  uint32_t Write(const void* buffer, uint32_t length) override {
    return file_.Write(buffer, length);
  }
  bool SetEndOfFile() override { return file_.SetEndOfFile(); }
  bool Flush() override { return file_.Flush(); }
  std::optional<FileTimes> GetTimes() override { return file_.GetTimes(); }
  bool SetTimes(const FileTimes& times) override { return file_.SetTimes(times); }
  std::optional<FileAttributes> GetAttributes() override { return file_.GetAttributes(); }
  bool SetAttributes(const FileAttributes& attributes) override {
    return file_.SetAttributes(attributes);
  }
  std::optional<FileInfo> GetInfo() override { return file_.GetInfo(); }
  bool SetOwner(uint32_t owner, uint32_t group) override { return file_.SetOwner(owner, group); }

  const std::vector<ReadRecord>& reads() const { return reads_; }

 private:
  File& file_;
  std::vector<ReadRecord> reads_;
};

// What DetectFile answered for one file, and every read it made to get there.
struct DetectionTrace {
  FileVerdict verdict;
  std::vector<RecordingFile::ReadRecord> reads;
};

// DetectFile with the heuristics on, over `file` as it is.
DetectionTrace TraceDetection(const DatabaseImage& signatures, File& file);

}  // namespace quarn::corpus
