// SelfExtractorOpener: an archive is taken where a self-extractor puts it, right after the
// program's image, and nowhere else.
#include <gtest/gtest.h>
#include <zlib.h>

#include "containers/archives/self_extractor_opener.h"

#include "containers/test_support/archive_test_support.h"
#include "containers/test_support/arj_writer.h"
#include "containers/test_support/lzh_writer.h"
#include "containers/test_support/zip_writer.h"
#include "platform/byte_reader.h"
#include "platform/test_support/tool_witness.h"

namespace quarn {
namespace {

using FileBytes = std::vector<uint8_t>;

// A DOS program whose header says its load image is `image` bytes: the whole of it.
FileBytes DosProgram(size_t image) {
  FileBytes program(image, 0x90);
  program[0] = 'M';
  program[1] = 'Z';
  WriteU16(&program[2], static_cast<uint16_t>(image % 512));
  WriteU16(&program[4], static_cast<uint16_t>((image + 511) / 512));
  WriteU16(&program[8], 2);
  WriteU32(&program[0x3C], 0);
  return program;
}

// A PE program of one section whose raw data, 0x200 bytes at 0x200, ends the image; its MZ
// stub says its own image ends at 0x80.
FileBytes PeProgram() {
  FileBytes program = DosProgram(0x80);
  program.resize(0x400, 0xCC);
  WriteU32(&program[0x3C], 0x40);
  std::copy_n("PE\0\0", 4, &program[0x40]);
  WriteU16(&program[0x40 + 6], 1);   // sections
  WriteU16(&program[0x40 + 20], 0);  // no optional header
  WriteU32(&program[0x58 + 16], 0x200);
  WriteU32(&program[0x58 + 20], 0x200);
  return program;
}

// A RAR archive of one stored file as RAR 2 lays it out: its mark, the archive's header, the
// file's header and data, the end block; a header's CRC is the low half of the CRC-32 of
// what follows it in the header.
FileBytes StoredRar(const std::string& name, const FileBytes& data) {
  FileBytes rar = {'R', 'a', 'r', '!', 0x1A, 0x07, 0x00};
  const auto block = [&rar](FileBytes header) {
    WriteU16(&header[3], static_cast<uint16_t>(header.size() + 2));
    const uLong crc = crc32(0, header.data(), static_cast<uInt>(header.size()));
    rar.push_back(static_cast<uint8_t>(crc));
    rar.push_back(static_cast<uint8_t>(crc >> 8));
    rar.insert(rar.end(), header.begin(), header.end());
  };
  block({0x73, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  FileBytes file(30, 0);
  file[0] = 0x74;
  WriteU16(&file[1], 0x8000);  // sizes follow
  WriteU32(&file[5], static_cast<uint32_t>(data.size()));
  WriteU32(&file[9], static_cast<uint32_t>(data.size()));
  WriteU32(&file[14], static_cast<uint32_t>(crc32(0, data.data(), static_cast<uInt>(data.size()))));
  file[22] = 20;    // version to extract
  file[23] = 0x30;  // stored
  WriteU16(&file[24], static_cast<uint16_t>(name.size()));
  file.insert(file.end(), name.begin(), name.end());
  block(file);
  rar.insert(rar.end(), data.begin(), data.end());
  block({0x7B, 0, 0x40, 0, 0});
  return rar;
}

FileBytes Appended(FileBytes first, const FileBytes& second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

struct Carried {
  const char* what;
  FileBytes file;
  std::optional<ContainerKind> kind;  // nothing: no container
  bool held_bytes_tell = false;       // the bytes a scan holds show it is none, unopened
};

TEST(SelfExtractor, TheArchiveRightAfterTheImageOpensAndNothingElseDoes) {
  const FileBytes text = {'r', 'e', 'a', 'd', ' ', 'm', 'e'};
  const FileBytes zip = testing::ZipWriter().Add("README.TXT", text).Build();
  const FileBytes stub = DosProgram(1000);
  const FileBytes fixed =
      testing::MadeByTool({{"SETUP.EXE", Appended(stub, zip)}}, "zip -qA SETUP.EXE", "SETUP.EXE");
  FileBytes zip_inside = DosProgram(3000);
  std::copy(zip.begin(), zip.end(), zip_inside.end() - static_cast<ptrdiff_t>(zip.size()));
  FileBytes image_past_end = Appended(stub, zip);
  WriteU16(&image_past_end[4], 64);
  FileBytes pe_headers = PeProgram();
  pe_headers.resize(0x80);
  const Carried cases[] = {
      {"a DOS program and a ZIP fixed by zip -A", fixed, ContainerKind::kZip},
      {"a DOS program and a ZIP as appended", Appended(stub, zip), ContainerKind::kZip},
      {"a PE program and a ZIP", Appended(PeProgram(), zip), ContainerKind::kZip},
      {"a DOS program and an ARJ",
       Appended(stub, testing::ArjWriter().Add("README.TXT", text).Build()), ContainerKind::kArj},
      {"a PE program and a RAR", Appended(PeProgram(), StoredRar("README.TXT", text)),
       ContainerKind::kRar},
      {"a DOS program and an LZH",
       Appended(stub, testing::LzhWriter().Level(2).AddFile("README.TXT", text).Build()),
       ContainerKind::kLha},
      {"a program with bytes after its image", Appended(stub, FileBytes(5000, 0x55)), std::nullopt,
       true},
      {"a ZIP inside the program's image", zip_inside, std::nullopt, true},
      {"a ZIP a byte after the image", Appended(Appended(stub, {0}), zip), std::nullopt, true},
      {"a ZIP with bytes after its end record", Appended(Appended(stub, zip), {0}), std::nullopt},
      {"a ZIP behind a PE program's DOS stub", Appended(pe_headers, zip), std::nullopt},
      {"an image the header puts past the file's end", image_past_end, std::nullopt, true},
      {"an archive alone", zip, std::nullopt, true},
  };
  SelfExtractorOpener opener;
  for (const Carried& example : cases) {
    SCOPED_TRACE(example.what);
    std::optional<OpenedContainer> opened =
        testing::OpenChecked(opener, example.kind.value_or(ContainerKind::kZip), example.file);
    ASSERT_EQ(opened.has_value(), example.kind.has_value());
    if (example.held_bytes_tell) {
      EXPECT_FALSE(opener.MayOpenHeld(testing::HeldAsTheScanHolds(example.file)));
    }
    if (!opened) continue;
    EXPECT_TRUE(opened->carried_by_program);
    const testing::WholeArchive whole = testing::ReadWhole(*opened->archive);
    ASSERT_EQ(whole.entries.size(), 1u);
    EXPECT_EQ(whole.entries[0].entry.path, "README.TXT");
    EXPECT_EQ(whole.entries[0].data, text);
    EXPECT_FALSE(whole.entries[0].failure);
  }
}

}  // namespace
}  // namespace quarn
