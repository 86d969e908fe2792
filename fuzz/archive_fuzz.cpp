// Any bytes as an archive of the libarchive family, and as a program that may carry an
// archive after its image: the opener recognises it or not, and every entry gives a name fit
// to show and reads to its end or to a reported failure, without a fault, a hang or unbounded
// memory.
#include <archive.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "containers/archives/libarchive_opener.h"
#include "containers/archives/self_extractor_opener.h"
#include "fuzz/fuzz_input_file.h"
#include "fuzz/fuzz_seeds.h"
#include "platform/test_support/libarchive_writer.h"

namespace {

// What one input may cost: a scan has limits of its own; these keep each run short.
constexpr uint64_t kMaxBytesRead = uint64_t{64} << 20;
constexpr size_t kMaxEntries = 100000;

// A shown name never holds a control character: it could start a line of its own.
bool FitToShow(const std::string& name) {
  for (unsigned char byte : name) {
    if (byte < 0x20 || byte == 0x7F || byte == '/') return false;
  }
  return true;
}

// An archive written by libarchive itself, in `format` through `filter`, holding a few
// entries: the seeds, so that mutations start from every structure the opener reads.
std::string Written(int format, int filter) {
  const std::vector<uint8_t> bytes = quarn::testing::WriteWithLibarchive(
      format, filter,
      {{"README.TXT", std::string(300, 'r')},
       {"DOS/KEYB.COM", std::string("\xE9\x00\x01") + std::string(200, '\x90')},
       {"DOS/EMPTY", ""},
       // Past one read: a stored entry of this size is read where it lies.
       {"DATA.BIN", std::string(100000, 'd')}});
  return std::string(bytes.begin(), bytes.end());
}

// `archive` behind a DOS program whose 64-byte image is its header alone.
std::string Carried(std::string archive) {
  std::string program(64, '\0');
  program[0] = 'M';
  program[1] = 'Z';
  program[2] = 64;
  program[4] = 1;
  return program + archive;
}

// Reads the data of every `every`-th entry, as a twin of the scan's reader reads its share.
void ReadEntries(quarn::ArchiveReader& archive, size_t size, size_t every) {
  uint64_t budget = kMaxBytesRead;
  std::vector<uint8_t> block(64 * 1024);
  size_t entries = 0;
  while (std::optional<quarn::ArchiveEntry> entry = archive.NextEntry()) {
    if (++entries > kMaxEntries) break;
    Check(FitToShow(entry->path));
    if (!entry->regular || entry->unreadable || entries % every != 0) continue;
    if (const std::optional<quarn::EntryInPlace> place = archive.FindInPlace()) {
      Check(place->offset <= size && place->size <= size - place->offset);
      continue;
    }
    while (budget > 0) {
      const quarn::EntryRead read = archive.ReadData(block.data(), block.size());
      Check(read.bytes <= block.size());
      if (read.failure || read.bytes == 0) break;
      budget -= std::min<uint64_t>(budget, read.bytes);
    }
    if (budget == 0) break;
  }
}

void ReadAll(std::optional<quarn::OpenedContainer> opened, size_t size) {
  if (!opened || !opened->archive) return;
  std::unique_ptr<quarn::ArchiveReader> twin = opened->archive->Twin();
  ReadEntries(*opened->archive, size, 1);
  if (twin) ReadEntries(*twin, size, 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ReadAll(quarn::LibarchiveOpener().Open(quarn::fuzz::InputFile(data, size)), size);
  // Without the extractor's programs: an ARJ behind a program is then `unsupported` at once.
  ReadAll(quarn::SelfExtractorOpener({"/nonexistent", "/nonexistent"})
              .Open(quarn::fuzz::InputFile(data, size)),
          size);
  return 0;
}

std::vector<std::string> FuzzSeeds() {
  return {Written(ARCHIVE_FORMAT_ZIP, ARCHIVE_FILTER_NONE),
          Written(ARCHIVE_FORMAT_7ZIP, ARCHIVE_FILTER_NONE),
          Written(ARCHIVE_FORMAT_TAR_USTAR, ARCHIVE_FILTER_NONE),
          Written(ARCHIVE_FORMAT_TAR_PAX_RESTRICTED, ARCHIVE_FILTER_GZIP),
          Written(ARCHIVE_FORMAT_TAR_USTAR, ARCHIVE_FILTER_BZIP2),
          Written(ARCHIVE_FORMAT_TAR_USTAR, ARCHIVE_FILTER_XZ),
          Written(ARCHIVE_FORMAT_TAR_USTAR, ARCHIVE_FILTER_ZSTD),
          Written(ARCHIVE_FORMAT_TAR_USTAR, ARCHIVE_FILTER_COMPRESS),
          Written(ARCHIVE_FORMAT_ISO9660, ARCHIVE_FILTER_NONE),
          Written(ARCHIVE_FORMAT_RAW, ARCHIVE_FILTER_GZIP),
          Carried(Written(ARCHIVE_FORMAT_ZIP, ARCHIVE_FILTER_NONE))};
}
