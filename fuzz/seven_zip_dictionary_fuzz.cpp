// Any bytes as a 7z archive whose coders' memory is asked for before libarchive opens it:
// the answer comes without a fault, a hang or memory beyond the one header it may unpack, and
// is a 32-bit dictionary or model size, or the mark of a header too long to read; whether the
// header is encrypted is answered the same way.
#include <archive.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "containers/archives/seven_zip_dictionary.h"
#include "containers/archives/seven_zip_packed_header.h"
#include "fuzz/fuzz_input_file.h"
#include "fuzz/fuzz_seeds.h"
#include "platform/test_support/libarchive_writer.h"
#include "platform/test_support/pattern_bytes.h"
#include "containers/test_support/seven_zip_writer.h"

namespace {

// A 7z archive written by libarchive with `compression`, holding a few entries.
std::string Written(const char* compression) {
  const std::vector<uint8_t> noise = quarn::testing::PatternBytes(3000, 2);
  const std::vector<uint8_t> bytes = quarn::testing::WriteWithLibarchive(
      ARCHIVE_FORMAT_7ZIP, ARCHIVE_FILTER_NONE,
      {{"README.TXT", std::string(300, 'r')},
       {"DOS/KEYB.COM", std::string(noise.begin(), noise.end())},
       {"DOS/EMPTY", ""}},
      std::string("7zip:compression=") + compression);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::shared_ptr<quarn::File> input = quarn::fuzz::InputFile(data, size);
  const std::optional<uint64_t> memory = quarn::SevenZipDictionarySize(*input);
  Check(quarn::SevenZipDictionarySize(*input) == memory);
  Check(!memory || size >= 32);
  Check(!memory || *memory <= 0xFFFFFFFF || *memory == std::numeric_limits<uint64_t>::max());
  const bool encrypted = quarn::SevenZipHeaderIsEncrypted(*input);
  Check(quarn::SevenZipHeaderIsEncrypted(*input) == encrypted);
  Check(!encrypted || size >= 32);
  return 0;
}

std::vector<std::string> FuzzSeeds() {
  using quarn::testing::SevenZipHeaderForm;
  using quarn::testing::SevenZipWriter;
  std::vector<std::string> seeds;
  for (const char* compression : {"store", "lzma1", "lzma2", "ppmd", "deflate", "bzip2"}) {
    seeds.push_back(Written(compression));
  }
  // Every header form over folders of every coder that counts, a filter chained in front.
  const quarn::testing::SevenZipWrittenCoder bcj = {0x03030103, {}};
  for (const SevenZipHeaderForm form : {SevenZipHeaderForm::kPlain, SevenZipHeaderForm::kStored,
                                        SevenZipHeaderForm::kLzma, SevenZipHeaderForm::kLzma2}) {
    const std::vector<uint8_t> archive =
        SevenZipWriter()
            .AddFolder({{quarn::kSevenZipLzma, quarn::testing::LzmaProperties(1 << 20)}},
                       quarn::testing::PatternBytes(40, 1), 100)
            .AddFolder({bcj, {quarn::kSevenZipLzma2, {20}}}, quarn::testing::PatternBytes(40, 2),
                       100000)
            .AddFolder({{quarn::kSevenZipPpmd, quarn::testing::PpmdProperties(16 << 20)}},
                       quarn::testing::PatternBytes(40, 3), 1 << 30)
            .Header(form)
            .Build();
    seeds.emplace_back(archive.begin(), archive.end());
    if (form == SevenZipHeaderForm::kPlain) {
      const std::vector<uint8_t> hidden = quarn::testing::HideSevenZipHeaderInProperty(archive);
      seeds.emplace_back(hidden.begin(), hidden.end());
    }
  }
  return seeds;
}
