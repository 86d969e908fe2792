// Hostile compound documents through the Word macro detector: whatever the allocation table,
// directory and command table hold, it reads a bounded number of pieces and stays in bounds.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/database_builder.h"
#include "engine/macro_detector.h"
#include "engine/section_directory.h"
#include "engine/test_support/compound_file_writer.h"
#include "fuzz/fuzz_seeds.h"
#include "platform/byte_reader.h"
#include "platform/test_support/memory_file_system.h"

namespace {

const quarn::DatabaseImage& Signatures() {
  static const quarn::DatabaseImage image = [] {
    quarn::DatabaseContent content;
    std::vector<uint8_t> record(18, 0);
    record[0] = 7;
    std::string first = "AUTOOPEN";
    std::copy(first.begin(), first.end(), record.begin() + 4);
    content.sections[quarn::kMacroSection].records.push_back(record);
    return quarn::DatabaseImage(*quarn::BuildSignatureImage(content));
  }();
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quarn::MemoryFileSystem files;
  files.AddFile("/doc", std::vector<uint8_t>(data, data + size));
  auto folder = files.OpenFolder("/");
  auto file = (*folder)->OpenFile("doc", quarn::OpenMode::kRead);
  if (!file) return 0;
  quarn::DetectorState state;
  uint16_t flag = 0;
  quarn::DetectWordMacroVirus(Signatures(), **file, &flag,
                              quarn::DirectoryOffset(quarn::kMacroSection), state);
  return 0;
}

std::vector<std::string> FuzzSeeds() {
  std::vector<uint8_t> text(64, 'x');
  std::string first = "AUTOOPEN";
  std::copy(first.begin(), first.end(), text.begin());
  std::vector<std::string> seeds;
  for (uint32_t seed : {0u, 5u}) {
    quarn::testing::CompoundFileWriter writer;
    writer.AddStream(
        "WordDocument",
        quarn::testing::WordDocumentStream().AddMacro(text, 0).AddMacro(text, 3).Build());
    if (seed != 0) writer.ScatterSectors(seed);
    std::vector<uint8_t> bytes = writer.Build();
    seeds.emplace_back(bytes.begin(), bytes.end());
  }
  return seeds;
}
