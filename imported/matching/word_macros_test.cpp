// The macros of Word 6 documents, as the patterns of compound documents see them: deciphered
// with their keys, found past the groups a macro table holds before its list, and passed
// over where the table or an entry points outside the stream.
#include "imported/matching/word_macros.h"

#include <gtest/gtest.h>

#include "engine/test_support/compound_file_writer.h"
#include "imported/test_support/matcher_test_support.h"

namespace quarn {
namespace {

using testing::WordDocumentStream;
using Bytes = std::vector<uint8_t>;

Bytes Enciphered(const std::string& text, uint8_t key) {
  Bytes bytes(text.begin(), text.end());
  for (uint8_t& byte : bytes) byte ^= key;
  return bytes;
}

// The texts visited; each read whole, and their bytes what the walk says it visited.
std::vector<std::string> MacrosOf(const Bytes& stream, uint64_t limit = UINT64_MAX) {
  std::vector<std::string> texts;
  uint64_t total = 0;
  const uint64_t visited =
      ForEachWordMacro(*testing::WatchedFile::Of(stream), limit, [&](File& text) {
        std::string bytes(text.Size().value_or(0), '\0');
        EXPECT_EQ(text.Read(bytes.data(), static_cast<uint32_t>(bytes.size())), bytes.size());
        total += bytes.size();
        texts.push_back(bytes);
      });
  EXPECT_EQ(visited, total);
  return texts;
}

void PutU32(Bytes& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

const std::vector<std::string> kBoth = {"Sub MAIN AutoOpen", "Sub MAIN FileSave"};

// Two macros: one in clear, one enciphered with key 0x5A.
WordDocumentStream TwoMacros() {
  return WordDocumentStream()
      .AddMacro(Enciphered(kBoth[0], 0), 0)
      .AddMacro(Enciphered(kBoth[1], 0x5A), 0x5A);
}

TEST(WordMacros, EachListedMacroIsDecipheredWithItsKey) {
  EXPECT_EQ(MacrosOf(TwoMacros().Build()), kBoth);
  // The table begins with groups the walk steps over: 2 menu entries of 12 bytes, then two
  // internal names (id, length, name, one byte more).
  Bytes groups = {0xFF, 0x05, 2, 0};
  groups.resize(groups.size() + 2 * 12, 0);
  groups.insert(groups.end(), {0x11, 2, 0, 1, 0, 2, 'A', 'B', 0, 2, 0, 1, 'C', 0});
  // They end where the macro list's type byte lies.
  Bytes stream = TwoMacros().CommandTableAt(0x300).Build();
  const size_t table = 0x301 - groups.size();
  std::copy(groups.begin(), groups.end(), stream.begin() + static_cast<ptrdiff_t>(table));
  PutU32(stream, 0x118, static_cast<uint32_t>(table));
  PutU32(stream, 0x11C, 0x100);
  EXPECT_EQ(MacrosOf(stream), kBoth);
}

TEST(WordMacros, TablesAndEntriesOutsideTheStreamGiveNothing) {
  const WordDocumentStream two = TwoMacros();
  const size_t first_entry = two.MacroEntryOffset(0);
  struct Case {
    const char* name;
    size_t at;
    uint32_t value;
    std::vector<std::string> macros;
  };
  const Case cases[] = {
      {"table of length 0", 0x11C, 0, {}},
      {"table past the stream", 0x118, 0x100000, {}},
      {"an unknown group first", 0x200, 0x12FF, {}},
      {"first macro's text past the stream", first_entry + 20, 0xFFFFFFF0, {kBoth[1]}},
      {"first macro of length 0", first_entry + 12, 0, {kBoth[1]}},
  };
  for (const Case& c : cases) {
    Bytes stream = two.Build();
    PutU32(stream, c.at, c.value);
    EXPECT_EQ(MacrosOf(stream), c.macros) << c.name;
  }
  // Macro text counts against the byte limit.
  EXPECT_EQ(MacrosOf(two.Build(), kBoth[0].size() + kBoth[1].size() - 1),
            std::vector<std::string>{kBoth[0]});
}

}  // namespace
}  // namespace quarn
