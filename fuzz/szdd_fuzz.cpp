// Any bytes as a file COMPRESS.EXE squeezed: the opener takes it or not, and its one entry
// reads to its end or to a reported failure, never past the length its header gives.
#include <cstdint>
#include <string>
#include <vector>

#include "containers/archives/szdd_opener.h"
#include "fuzz/fuzz_input_file.h"
#include "fuzz/fuzz_seeds.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::optional<quarn::OpenedContainer> opened =
      quarn::SzddOpener().Open(quarn::fuzz::InputFile(data, size));
  if (!opened) return 0;
  Check(opened->kind == quarn::ContainerKind::kSzdd && opened->archive != nullptr);
  quarn::ArchiveReader& archive = *opened->archive;
  const std::optional<quarn::ArchiveEntry> entry = archive.NextEntry();
  Check(entry.has_value() && entry->size.has_value());
  uint64_t produced = 0;
  std::vector<uint8_t> buffer(4096);
  while (true) {
    const quarn::EntryRead read = archive.ReadData(buffer.data(), buffer.size());
    produced += read.bytes;
    if (read.failure || read.bytes == 0) break;
  }
  Check(produced <= *entry->size);
  Check(!archive.NextEntry().has_value());
  return 0;
}

namespace {

// An SZDD file of `text` (whole groups of eight bytes) and the name's last character:
// literals, then one copy of the first eight bytes from the window, so both of the format's
// codes are there to mutate.
std::string Squeezed(const std::string& text, char last) {
  std::string body;
  for (size_t at = 0; at < text.size(); at += 8) {
    const std::string group = text.substr(at, 8);
    body += static_cast<char>((1 << group.size()) - 1);  // one bit per literal
    body += group;
  }
  // The window starts writing at 4096 - 16: the text's first byte sits there.
  body += '\0';
  body += static_cast<char>(0xF0);
  body += static_cast<char>(0xF0 | (8 - 3));
  const uint32_t length = static_cast<uint32_t>(text.size() + 8);
  std::string file = "SZDD\x88\xF0\x27\x33";
  file += 'A';
  file += last;
  for (int i = 0; i < 4; ++i) file += static_cast<char>(length >> (8 * i));
  return file + body;
}

}  // namespace

std::vector<std::string> FuzzSeeds() {
  return {Squeezed("Hello from the install disk 12\r\n", 'T'),
          Squeezed(std::string(296, 'x'), 'E')};
}
