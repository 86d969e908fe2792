#include "samplegen/macro_cleaning_samples.h"

#include <algorithm>
#include <string>

#include "samplegen/sample_factory.h"
#include "engine/test_support/compound_file_writer.h"

namespace quarn::samples {
namespace {

using testing::CompoundFileWriter;
using testing::WordDocumentStream;

constexpr size_t kSectorSize = CompoundFileWriter::kSectorSize;

// What the cleaner writes over a macro text, written out here on its own so that the host
// does not come from the code it checks: this head, then 0x64, enciphered with the macro's
// key, starting again at the head in every sector the text reaches.
const Bytes kFillerHead = {0x01, 0x00, 0x64, 0x1B, 0x69, 0x04, 'M',
                           'A',  'I',  'N',  0x64, 0x1A, 0x1B, 0x64};
constexpr uint8_t kFillerPadding = 0x64;

struct Macro {
  std::string marks;  // the family's marks, at the start of the text in clear
  size_t length;
  uint8_t key;
};

// The text as the document stores it: the marks, inert words up to `length`, enciphered.
Bytes StoredText(const Macro& macro) {
  std::string text = macro.marks;
  while (text.size() < macro.length) text += " harmless test text, never run.";
  text.resize(macro.length);
  Bytes stored = Text(text);
  for (uint8_t& byte : stored) byte ^= macro.key;
  return stored;
}

void Neutralise(Bytes* stream, size_t offset, size_t length, uint8_t key) {
  for (size_t at = offset; at < offset + length; ++at) {
    const size_t in_piece = at - std::max(offset, at / kSectorSize * kSectorSize);
    const uint8_t byte = in_piece < kFillerHead.size() ? kFillerHead[in_piece] : kFillerPadding;
    (*stream)[at] = byte ^ key;
  }
}

Bytes Document(const Bytes& stream, uint32_t scatter_seed) {
  CompoundFileWriter writer;
  writer.AddStream("WordDocument", stream);
  writer.ScatterSectors(scatter_seed);
  return writer.Build();
}

// An infected document and its host. Both are laid out from the same seed and streams of
// the same size, so they differ only in the bytes the clean rewrites.
Sample WordSample(std::string name, std::string description, uint32_t family,
                  const std::vector<Macro>& macros, uint16_t flags, uint32_t scatter_seed) {
  WordDocumentStream word;
  word.FibFlags(flags);
  for (const Macro& macro : macros) word.AddMacro(StoredText(macro), macro.key);
  const Bytes infected = word.Build();

  Bytes host = infected;
  for (size_t i = 0; i < macros.size(); ++i) {
    Neutralise(&host, word.MacroTextOffset(i), macros[i].length, macros[i].key);
  }
  const uint16_t counted_down = flags == 0 ? 0 : static_cast<uint16_t>(flags - 1);
  host[WordDocumentStream::kFibFlagsOffset] = static_cast<uint8_t>(counted_down);
  host[WordDocumentStream::kFibFlagsOffset + 1] = static_cast<uint8_t>(counted_down >> 8);

  return Infected(std::move(name), std::move(description), Document(infected, scatter_seed), family,
                  Document(host, scatter_seed));
}

}  // namespace

std::vector<Sample> BuildMacroCleaningSamples() {
  std::vector<Sample> samples;
  // 700 bytes from 28 bytes into the stream's second sector: the filler is written in two
  // pieces, on sectors the allocation table alone links.
  samples.push_back(WordSample("macro_clean.doc", "a document whose one macro a clean overwrites",
                               kWordMacroCleanFamily, {{"QTFWMC01--------WMC1", 700, 0}}, 1, 5));
  // Two enciphered macros; the database's marks are the stored, enciphered bytes.
  samples.push_back(WordSample(
      "macro_clean_keyed.doc", "a document with two enciphered macros a clean overwrites",
      kWordMacroKeyedFamily, {{"QTFWMK01--------WMK1", 300, 0x5A}, {"QTFWMK02", 900, 0x33}}, 2, 8));
  return samples;
}

}  // namespace quarn::samples
