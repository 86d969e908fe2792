// Any file and any cleaning record through the cleaning dispatchers: whatever they hold, a
// method stays inside its buffers, a clean that fails leaves the file byte for byte as it
// was with nothing beside it, and a clean that succeeds never makes the file longer.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "clean/file_cleaner.h"
#include "engine/database_builder.h"
#include "engine/section_directory.h"
#include "fuzz/fuzz_seeds.h"
#include "platform/byte_reader.h"
#include "platform/test_support/memory_file_system.h"
#include "samplegen/sample_set.h"

namespace {

class Silent : public quarn::UserInterface {
 public:
  void SetOptionsStatus(quarn::OptionsStatusPart, std::string_view) override {}
  void ShowMessage(std::string_view, std::string_view) override {}
};

constexpr int kSections[] = {quarn::kExeCleanSection,     quarn::kEncryptedExeCleanSection,
                             quarn::kPeCleanSection,      quarn::kComCleanSection,
                             quarn::kPrependCleanSection, quarn::kEncryptedComCleanSection,
                             quarn::kMacroCleanSection};
constexpr size_t kHeader = 1 + 24;  // section selector, then the record's bytes

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeader) return 0;
  const int section = kSections[data[0] % std::size(kSections)];
  std::vector<uint8_t> record(data + 1, data + 1 + quarn::ReaderRecordSize(section));
  const std::vector<uint8_t> original(data + kHeader, data + size);

  quarn::DatabaseContent content;
  content.sections[section].records = {record};
  auto image = quarn::BuildSignatureImage(content);
  if (!image) return 0;
  const quarn::DatabaseImage signatures(*image);

  quarn::MemoryFileSystem files;
  files.AddFolder("/d");
  files.AddFile("/d/F.COM", original);
  auto folder = files.OpenFolder("/d");
  Silent ui;
  quarn::StaleCopies stale_copies;
  const uint32_t virus = quarn::ReadU16(record, 0);
  const bool executable = original.size() >= 2 && original[0] == 'M' && original[1] == 'Z';
  const uint32_t result =
      executable
          ? quarn::CleanExecutable(signatures, **folder, "F.COM", virus, ui, stale_copies)
          : quarn::CleanNonExecutable(signatures, **folder, "F.COM", virus, ui, stale_copies);
  const auto after = files.ReadFileBytes("/d/F.COM");
  Check(after.has_value());
  if (result == 0) {
    Check(*after == original);
  } else {
    Check(after->size() <= original.size());
  }
  auto entries = (*folder)->List();
  Check(entries.ok() && entries->size() == 1);
  return 0;
}

std::vector<std::string> FuzzSeeds() {
  std::vector<std::string> seeds;
  for (const quarn::samples::Sample& sample : quarn::samples::BuildSampleSet()) {
    if (!sample.host) continue;
    for (uint8_t selector = 0; selector < std::size(kSections); ++selector) {
      std::string seed(kHeader, '\0');
      seed[0] = static_cast<char>(selector);
      seed[1] = static_cast<char>(sample.expected.virus & 0xFF);
      seed[2] = static_cast<char>(sample.expected.virus >> 8);
      seed.append(sample.bytes.begin(), sample.bytes.end());
      seeds.push_back(std::move(seed));
    }
  }
  return seeds;
}
