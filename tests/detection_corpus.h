#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/file_verdict.h"
#include "platform/forwarding_file.h"
#include "platform/test_support/memory_file_system.h"

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
class RecordingFile : public ForwardingFile {
 public:
  struct ReadRecord {
    uint64_t position;
    std::vector<uint8_t> bytes;
    bool operator==(const ReadRecord&) const = default;
  };

  explicit RecordingFile(File& file) : ForwardingFile(file) {}

  uint32_t Read(void* buffer, uint32_t length) override;

  const std::vector<ReadRecord>& reads() const { return reads_; }

 private:
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
