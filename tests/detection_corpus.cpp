#include "tests/detection_corpus.h"

#include <algorithm>
#include <random>

#include "samplegen/sample_set.h"
#include "engine/test_support/executable_builder.h"

namespace quarn::corpus {
namespace {

constexpr size_t kEdgeSizes[] = {0,    1,    2,    511,  4095,  4096,  4097,
                                 8191, 8192, 8193, 1000, 20000, 61440, 65535};

class Draw {
 public:
  explicit Draw(uint32_t seed) : random_(seed) {}
  size_t Below(size_t bound) { return bound == 0 ? 0 : random_() % bound; }
  bool Chance(int percent) { return Below(100) < static_cast<size_t>(percent); }
  uint8_t Byte() { return static_cast<uint8_t>(random_()); }
  size_t Size() { return Chance(50) ? kEdgeSizes[Below(std::size(kEdgeSizes))] : Below(70000); }
  // Random bytes, sometimes from a small alphabet so that code-like repeats occur.
  std::vector<uint8_t> Bytes(size_t size) {
    std::vector<uint8_t> bytes(size);
    const size_t alphabet = Chance(30) ? 1 + Below(8) : 256;
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(Below(alphabet) * (256 / alphabet));
    return bytes;
  }
  // An offset within a file of `size`, often near its end and sometimes past it.
  size_t Offset(size_t size) {
    if (Chance(25)) return size > 40 ? size - Below(40) : Below(size + 1);
    if (Chance(10)) return size + Below(100);
    return Below(size + 1);
  }

 private:
  std::mt19937 random_;
};

std::vector<uint8_t> Text(Draw& draw, size_t size) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz   .,\r\n";
  std::vector<uint8_t> bytes(size);
  for (uint8_t& byte : bytes)
    byte = static_cast<uint8_t>(kLetters[draw.Below(sizeof kLetters - 1)]);
  return bytes;
}

std::vector<uint8_t> Com(Draw& draw, size_t size) {
  size = std::max<size_t>(size, 3);
  testing::ComBuilder com;
  com.Code(0, draw.Bytes(size)).Size(size);
  const size_t target = draw.Offset(size);
  switch (draw.Below(4)) {
    case 0:
      com.JumpShort(std::min<size_t>(target, 0x101));
      break;
    case 1:
      com.JumpNear(target);
      break;
    case 2:
      com.CallNear(target);
      break;
    default:
      com.Code(0, {0xE8, 0x00, 0x00});  // the call to the next instruction
      break;
  }
  return com.Build();
}

std::vector<uint8_t> Mz(Draw& draw, size_t size) {
  size = std::max<size_t>(size, 64);
  testing::MzBuilder mz;
  mz.Code(32, draw.Bytes(size - 32)).Size(size);
  mz.EntryAt(static_cast<uint32_t>(std::max<size_t>(32, draw.Offset(size))));
  mz.InitialSp(static_cast<uint16_t>(draw.Below(0x10000)));
  std::vector<uint8_t> bytes = mz.Build();
  const size_t entry = mz.EntryOffset();
  if (entry + 3 <= bytes.size() && draw.Chance(40)) {
    static constexpr uint8_t kFirst[] = {0xEB, 0xE9, 0x9A, 0xE8, 0x50};
    bytes[entry] = kFirst[draw.Below(std::size(kFirst))];
  }
  return bytes;
}

std::vector<uint8_t> Pe(Draw& draw, size_t size) {
  testing::PeBuilder pe;
  pe.EntryPoint(static_cast<uint32_t>(0x1000 + draw.Below(0x300)));
  pe.SectionRawSize(static_cast<uint32_t>(draw.Below(0x400)));
  pe.Code(0x200, draw.Bytes(draw.Below(0x400)));
  if (draw.Chance(50)) pe.Size(std::max<size_t>(size, 0x200));
  return pe.Build();
}

std::vector<uint8_t> Mutated(Draw& draw, const std::vector<samples::Sample>& samples) {
  std::vector<uint8_t> bytes = samples[draw.Below(samples.size())].bytes;
  switch (draw.Below(3)) {
    case 0:
      for (size_t flips = 1 + draw.Below(4); flips > 0 && !bytes.empty(); --flips) {
        bytes[draw.Below(bytes.size())] = draw.Byte();
      }
      break;
    case 1:
      bytes.resize(draw.Below(bytes.size() + 1));
      break;
    default: {
      std::vector<uint8_t> more = draw.Bytes(draw.Below(9000));
      bytes.insert(bytes.end(), more.begin(), more.end());
      break;
    }
  }
  return bytes;
}

}  // namespace

std::vector<CorpusFile> BuildDetectionCorpus(uint32_t seed, int generated) {
  const std::vector<samples::Sample> samples = samples::BuildSampleSet();
  std::vector<CorpusFile> corpus;
  for (const samples::Sample& sample : samples) corpus.push_back({sample.name, sample.bytes});
  Draw draw(seed);
  for (int i = 0; i < generated; ++i) {
    const size_t size = draw.Size();
    std::vector<uint8_t> bytes;
    switch (i % 7) {
      case 0:
        bytes = draw.Bytes(size);
        break;
      case 1:
        bytes = Text(draw, size);
        break;
      case 2:
        bytes = Com(draw, size);
        break;
      case 3:
        bytes = Mz(draw, size);
        break;
      case 4:
        bytes = Pe(draw, size);
        break;
      default:
        bytes = Mutated(draw, samples);
        break;
    }
    corpus.push_back({"GEN" + std::to_string(i), std::move(bytes)});
  }
  return corpus;
}

CorpusFiles::CorpusFiles(const std::vector<CorpusFile>& corpus) {
  for (const CorpusFile& file : corpus) files_.AddFile("/" + file.name, file.bytes);
}

std::unique_ptr<File> CorpusFiles::Open(const CorpusFile& file) {
  auto folder = files_.OpenFolder("/");
  if (!folder) return nullptr;
  auto opened = (*folder)->OpenFile(file.name, OpenMode::kRead);
  return opened ? std::move(opened.value()) : nullptr;
}

uint32_t RecordingFile::Read(void* buffer, uint32_t length) {
  const uint64_t position = forwarded().Position();
  const uint32_t got = forwarded().Read(buffer, length);
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  reads_.push_back({position, std::vector<uint8_t>(bytes, bytes + got)});
  return got;
}

DetectionTrace TraceDetection(const DatabaseImage& signatures, File& file) {
  RecordingFile recording(file);
  DetectionTrace trace;
  trace.verdict = DetectFile(signatures, recording, /*heuristics_enabled=*/true);
  trace.reads = recording.reads();
  return trace;
}

}  // namespace quarn::corpus
