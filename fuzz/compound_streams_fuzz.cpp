// Hostile compound documents walked stream by stream: whatever the allocation tables, DIFAT
// and directory hold, every stream reads exactly the size it shows, the bytes of all of them
// together never pass the file's own (nor the byte limit the input's first byte sets), and no
// read leaves the limit. Every stream is walked as a Word 6 document's too: each macro it
// lists reads exactly the size it shows, and all of them together no more than the limit
// they are given.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/test_support/compound_file_writer.h"
#include "fuzz/fuzz_input_file.h"
#include "fuzz/fuzz_seeds.h"
#include "imported/matching/compound_streams.h"
#include "imported/matching/word_macros.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto input = quarn::fuzz::InputFile(data, size);
  quarn::fuzz::WatchedInput file(*input);
  // The first byte's low bits cut the limit short of the input now and then.
  const uint64_t limit = size > 0 && (data[0] & 3) == 1 ? size / 2 : UINT64_MAX;
  uint64_t total = 0;
  // Macros may all name the same bytes: their text is held to the input's size in all.
  const uint64_t macro_limit = size;
  uint64_t macros = 0;
  quarn::ForEachCompoundStream(file, {limit}, [&](const std::string&, quarn::File& stream) {
    const uint64_t shown = stream.Size().value_or(0);
    Check(shown > 0);
    uint64_t read = 0;
    uint8_t block[4096];
    for (uint32_t got; (got = stream.Read(block, sizeof block)) > 0;) read += got;
    Check(read == shown);
    total += read;
    uint64_t deciphered = 0;
    const uint64_t visited =
        quarn::ForEachWordMacro(stream, macro_limit - macros, [&](quarn::File& text) {
          const uint64_t before = deciphered;
          for (uint32_t got; (got = text.Read(block, sizeof block)) > 0;) deciphered += got;
          Check(deciphered - before == text.Size().value_or(0));
        });
    Check(visited == deciphered);
    macros += visited;
  });
  Check(macros <= macro_limit);
  Check(total <= std::min<uint64_t>(size, limit));
  Check(file.farthest_end <= std::min<uint64_t>(size, limit));
  return 0;
}

std::vector<std::string> FuzzSeeds() {
  std::vector<std::string> seeds;
  for (uint32_t seed : {0u, 9u}) {
    quarn::testing::CompoundFileWriter writer;
    writer.AddStream("Big", std::vector<uint8_t>(9000, 'b'))
        .AddStream("Small", std::vector<uint8_t>(100, 's'))
        .AddStream("Other", std::vector<uint8_t>(4096, 'o'))
        .AddStream("WordDocument", quarn::testing::WordDocumentStream()
                                       .AddMacro(std::vector<uint8_t>(5000, 'm'), 0x5A)
                                       .Build());
    if (seed != 0) writer.ScatterSectors(seed);
    const std::vector<uint8_t> bytes = writer.Build();
    seeds.emplace_back(bytes.begin(), bytes.end());
  }
  return seeds;
}
