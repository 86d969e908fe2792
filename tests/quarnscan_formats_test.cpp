// SPDX-License-Identifier: Apache-2.0
// quarnscan over archives, packed files and disk images met in a walk, as a user runs it, one
// row per format: what is found inside is named layer by layer at any depth, and what cannot
// be read (an old method, a wrong CRC, data that breaks off) is reported incomplete, never
// counted as clean. Then what no format may do: change inside an archive, forge a line, climb
// out, or hold the scan past its limits.
#include <archive.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "containers/test_support/fat_image_writer.h"
#include "containers/test_support/lzh_writer.h"
#include "containers/test_support/zip_writer.h"
#include "platform/byte_reader.h"
#include "platform/test_support/libarchive_writer.h"
#include "platform/test_support/tool_witness.h"
#include "tests/quarnscan_runner.h"

namespace quarn {
namespace {

using namespace e2e;  // NOLINT(google-build-using-namespace): the runner is this file's vocabulary
using testing::FatImageWriter;
using testing::MadeByTool;
using testing::RunIn;

std::vector<uint8_t> Sample(const std::string& name) {
  return SampleNamed(name).bytes;
}

void Put(const std::string& tree, const std::string& name, const std::vector<uint8_t>& bytes) {
  WriteFile(tree + "/" + name, Text(bytes));
}

// Each event of `kind` as "path name-or-reason kind:name kind:name...".
std::set<std::string> Described(const Outcome& outcome, const std::string& kind) {
  std::set<std::string> described;
  for (const json& event : outcome.EventsOf(kind)) {
    std::string text =
        event.value("path", "") + " " + event.value("reason", "") + event.value("name", "");
    for (const json& layer : event.value("layers", json::array())) {
      text += " " + layer.value("kind", "") + ":" + layer.value("name", "");
    }
    described.insert(text);
  }
  return described;
}

// `bytes` squeezed by mscompress, the last character of the name stored as COMPRESS.EXE -r
// stores it.
std::vector<uint8_t> Squeezed(const std::vector<uint8_t>& bytes, char last) {
  std::vector<uint8_t> squeezed = MadeByTool({{"IN", bytes}}, "mscompress IN", "IN_");
  if (squeezed.size() > 9) squeezed[9] = static_cast<uint8_t>(last);
  return squeezed;
}

struct FormatCase {
  std::string name;
  std::function<void(const std::string& tree)> make;
  std::set<std::string> found;
  std::set<std::string> incomplete;
  json summary = json::object();  // fields the summary must hold
  std::vector<std::string> arguments = {};
};

void PrintTo(const FormatCase& row, std::ostream* out) {
  *out << row.name;
}

const std::string kEicar = " EICAR-Test-File";

// Images the system's tools made, the test file where the tools put it.
std::vector<FormatCase> ToolImages() {
  const std::string files =
      " && mmd -i DISK.IMG ::DOS && mcopy -i DISK.IMG host/EICAR.COM ::DOS/KEYB.COM";
  auto image = [&](const std::string& name, const std::string& make, const std::string& kind) {
    return FormatCase{name,
                      [make](const std::string& tree) {
                        Put(tree, "host/EICAR.COM", Sample("eicar.com"));
                        ASSERT_EQ(RunIn(tree, make + " && rm -r host").status, 0) << make;
                      },
                      {"C:\\DISK.IMG!A:\\DOS\\KEYB.COM" + kEicar + " " + kind + ":DOS\\KEYB.COM"},
                      {}};
  };
  std::vector<FormatCase> rows;
  for (const char* size : {"160", "360", "720", "1200", "1440", "2880"}) {
    rows.push_back(image(std::string("floppy_") + size,
                         std::string("mformat -C -f ") + size + " -i DISK.IMG ::" + files,
                         "fat12"));
  }
  rows.push_back(
      image("dmf", "mkfs.fat -C DISK.IMG 1680 -s 4 -r 16 -M 0xF0 -g 2/21 -F 12 >/dev/null" + files,
            "fat12"));
  rows.push_back(image("fat16", "mkfs.fat -F 16 -C DISK.IMG 16384 >/dev/null" + files, "fat16"));
  rows.push_back(
      image("fat32", "mkfs.fat -F 32 -s 1 -C DISK.IMG 34816 >/dev/null" + files, "fat32"));
  rows.push_back(
      image("dos1_without_parameter_block",
            "mformat -C -f 160 -i DISK.IMG ::" + files +
                " && dd if=/dev/zero of=DISK.IMG bs=512 count=1 conv=notrunc 2>/dev/null",
            "fat12"));
  FormatCase code_page = image(
      "long_name_in_code_page_437",
      "printf 'default_codepage=437\\n' > mtoolsrc && MTOOLSRC=mtoolsrc mformat -C -f 1440 -i "
      "DISK.IMG :: && MTOOLSRC=mtoolsrc mcopy -i DISK.IMG host/EICAR.COM '::Café résumé.com' && "
      "rm mtoolsrc",
      "");
  code_page.found = {"C:\\DISK.IMG!A:\\Café résumé.com" + kEicar + " fat12:Café résumé.com"};
  rows.push_back(code_page);
  FormatCase partitioned =
      image("partitioned",
            "truncate -s 40M DISK.IMG && printf 'label: dos\\nstart=2048, size=20480, type=6\\n"
            "start=22528, type=5\\nstart=24576, size=20480, type=6\\n' | sfdisk -q DISK.IMG && "
            "mkfs.fat --offset 2048 -F 16 DISK.IMG 10240 >/dev/null && "
            "mkfs.fat --offset 24576 -F 16 DISK.IMG 10240 >/dev/null && "
            "mcopy -i DISK.IMG@@1048576 host/EICAR.COM ::FIRST.COM && "
            "mmd -i DISK.IMG@@12582912 ::GAMES && "
            "mcopy -i DISK.IMG@@12582912 host/EICAR.COM ::GAMES/LOGICAL.COM",
            "");
  partitioned.found = {
      "C:\\DISK.IMG!C:\\FIRST.COM" + kEicar + " mbr:1 fat16:FIRST.COM",
      "C:\\DISK.IMG!D:\\GAMES\\LOGICAL.COM" + kEicar + " mbr:5 fat16:GAMES\\LOGICAL.COM"};
  rows.push_back(partitioned);
  return rows;
}

std::vector<FormatCase> Formats() {
  std::vector<FormatCase> rows = ToolImages();
  rows.push_back(
      {"lzh",
       [](const std::string& tree) {
         const std::vector<uint8_t> eicar = Sample("eicar.com");
         const std::vector<uint8_t> clean = Sample("clean.com");
         const auto size = static_cast<uint32_t>(eicar.size());
         using testing::LzhCrc16;
         Put(tree, "GAMES.LZH",
             testing::LzhWriter()
                 .Level(1)
                 .AddFolder("INSTALL")
                 .AddFile("INSTALL/EICAR.COM", eicar)
                 .AddFile("INSTALL/CLEAN.COM", clean)
                 .AddPacked("OLD.COM", "-lh2-", eicar, size, LzhCrc16(eicar))
                 .AddPacked("BAD.COM", "-lh0-", eicar, size, LzhCrc16(eicar) ^ 1)
                 .Build());
         testing::LzhWriter broken;
         broken.AddFile("FIRST.COM", clean).AddFile("SECOND.COM", eicar);
         const std::vector<uint8_t> whole = broken.Build();
         Put(tree, "BROKEN.LZH", {whole.begin(), whole.begin() + broken.HeaderOffset(1) + 9});
       },
       {"C:\\GAMES.LZH!INSTALL\\EICAR.COM" + kEicar + " lha:INSTALL\\EICAR.COM"},
       {"C:\\BROKEN.LZH damaged", "C:\\GAMES.LZH!OLD.COM unsupported lha:OLD.COM",
        "C:\\GAMES.LZH!BAD.COM damaged lha:BAD.COM"},
       // Both archives and their five entries are counted; the three read whole are scanned.
       {{"infected", 1}, {"scanned", 3}, {"total", 7}, {"incomplete", 3}}});
  // Squeezed by COMPRESS.EXE: scanned under the name with the "_" put back, or with it
  // dropped after a whole extension as Debian's mscompress names its output.
  rows.push_back(
      {"szdd",
       [](const std::string& tree) {
         const std::vector<uint8_t> squeezed = Squeezed(Sample("eicar.com"), 'M');
         Put(tree, "EICAR.CO_", squeezed);
         Put(tree, "TOOL.COM_", MadeByTool({{"IN", Sample("eicar.com")}}, "mscompress IN", "IN_"));
         Put(tree, "DISK1.ZIP", testing::ZipWriter().Add("SETUP.CO_", squeezed).Build());
         std::vector<uint8_t> text;
         for (int line = 0; line < 200; ++line) {
           const std::string words = "line " + std::to_string(line) + " of an install note\r\n";
           text.insert(text.end(), words.begin(), words.end());
         }
         const std::vector<uint8_t> clean = Squeezed(text, 'E');
         Put(tree, "BROKEN.EX_", {clean.begin(), clean.begin() + clean.size() / 2});
       },
       {"C:\\EICAR.CO_!EICAR.COM" + kEicar + " szdd:EICAR.COM",
        "C:\\TOOL.COM_!TOOL.COM" + kEicar + " szdd:TOOL.COM",
        "C:\\DISK1.ZIP!SETUP.CO_!SETUP.COM" + kEicar + " zip:SETUP.CO_ szdd:SETUP.COM"},
       {"C:\\BROKEN.EX_!BROKEN.EXE damaged szdd:BROKEN.EXE"}});
  // A ZIP whose deflated data is broken in two entries: after the first, a second reader goes
  // on from the central directory; after the second, what is left is said to be unread.
  rows.push_back(
      {"zip_broken_data",
       [](const std::string& tree) {
         std::string text;
         for (int line = 0; line < 300; ++line) text += "line " + std::to_string(line) + "\r\n";
         const std::vector<uint8_t> eicar = Sample("eicar.com");
         std::vector<uint8_t> zip =
             MadeByTool({{"A.COM", eicar},
                         {"B.COM", {text.begin(), text.end()}},
                         {"C.COM", eicar},
                         {"D.COM", {text.begin(), text.end()}},
                         {"E.COM", eicar}},
                        "zip -qX T.ZIP A.COM B.COM C.COM D.COM E.COM", "T.ZIP");
         for (const std::string name : {"B.COM", "D.COM"}) {
           const auto data = std::search(zip.begin(), zip.end(), name.begin(), name.end()) +
                             static_cast<std::ptrdiff_t>(name.size());
           for (auto byte = data + 8; byte != data + 200; ++byte) *byte ^= 0xFF;
         }
         Put(tree, "BAD.ZIP", zip);
       },
       {"C:\\BAD.ZIP!A.COM" + kEicar + " zip:A.COM", "C:\\BAD.ZIP!C.COM" + kEicar + " zip:C.COM"},
       {"C:\\BAD.ZIP!B.COM damaged zip:B.COM", "C:\\BAD.ZIP!D.COM damaged zip:D.COM",
        "C:\\BAD.ZIP damaged"},
       {{"infected", 2}, {"scanned", 2}, {"total", 5}, {"incomplete", 3}}});
  // Made by the real archivers and read through the extractor. A text whose data is broken
  // is not unpacked under the program-files filter: not reported.
  rows.push_back(
      {"arj_and_arc",
       [](const std::string& tree) {
         const std::vector<uint8_t> text(4000, 't');
         std::vector<uint8_t> arj = MadeByTool({{"INSTALL/EICAR.COM", Sample("eicar.com")},
                                                {"CLEAN.COM", Sample("clean.com")},
                                                {"README.TXT", text}},
                                               "arj a -r -y -m0 T.ARJ '*'", "T.ARJ");
         arj[std::search(arj.begin(), arj.end(), text.begin(), text.end()) - arj.begin() + 9] ^= 1;
         Put(tree, "GAMES.ARJ", arj);
         Put(tree, "OLD.ARC",
             MadeByTool({{"EICAR.COM", Sample("eicar.com")}}, "arc a T.ARC EICAR.COM", "T.ARC"));
         Put(tree, "BBS.ZIP", testing::ZipWriter().Add("-RF.ARJ", arj).Build());
       },
       {"C:\\GAMES.ARJ!INSTALL\\EICAR.COM" + kEicar + " arj:INSTALL\\EICAR.COM",
        "C:\\OLD.ARC!EICAR.COM" + kEicar + " arc:EICAR.COM",
        "C:\\BBS.ZIP!-RF.ARJ!INSTALL\\EICAR.COM" + kEicar + " zip:-RF.ARJ arj:INSTALL\\EICAR.COM"},
       {},
       {{"scanned", 5}}});  // EICAR and CLEAN twice, EICAR once more
  // Names in code page 437, and a floppy image holding an archive.
  rows.push_back(
      {"arj_names_and_nesting",
       [](const std::string& tree) {
         Put(tree, "NAMES.ARJ",
             MadeByTool({{"\x81"
                          "BER.COM",
                          Sample("eicar.com")}},
                        "arj a -y T.ARJ '*'", "T.ARJ"));
         const std::vector<uint8_t> games = MadeByTool({{"INSTALL/EICAR.COM", Sample("eicar.com")}},
                                                       "arj a -r -y T.ARJ '*'", "T.ARJ");
         Put(tree, "DISK.IMG",
             FatImageWriter(testing::FloppyLayout(1440)).AddFile("GAMES.ARJ", games).Build());
       },
       {"C:\\NAMES.ARJ!\u00fcBER.COM" + kEicar + " arj:\u00fcBER.COM",
        "C:\\DISK.IMG!A:\\GAMES.ARJ!INSTALL\\EICAR.COM" + kEicar +
            " fat12:GAMES.ARJ arj:INSTALL\\EICAR.COM"},
       {},
       {},
       {"--files", "all"}});
  // The contract's own example: an image in a ZIP in an ISO. The ZIP is stored, so the image
  // is read where it lies in it.
  rows.push_back(
      {"image_in_zip_in_iso",
       [](const std::string& tree) {
         Put(tree, "cd/UTILS/README.TXT", {'r'});
         Put(tree, "DISK1.IMG",
             FatImageWriter(testing::FloppyLayout(1440))
                 .AddFile("AUTOEXEC.BAT", Sample("eicar.com"))
                 .Build());
         Put(tree, "GAME.EXE", Sample("exe_entry.exe"));
         ASSERT_EQ(RunIn(tree,
                         "zip -q0 cd/UTILS/PACK.ZIP DISK1.IMG GAME.EXE && rm DISK1.IMG GAME.EXE && "
                         "genisoimage -quiet -J -R -o SHARE.ISO cd && rm -r cd")
                       .status,
                   0);
       },
       {"C:\\SHARE.ISO!UTILS\\PACK.ZIP!DISK1.IMG!A:\\AUTOEXEC.BAT" + kEicar +
            " iso9660:UTILS\\PACK.ZIP zip:DISK1.IMG fat12:AUTOEXEC.BAT",
        "C:\\SHARE.ISO!UTILS\\PACK.ZIP!GAME.EXE QTF.ExeEntry iso9660:UTILS\\PACK.ZIP zip:GAME.EXE"},
       {},
       // The ISO, the ZIP, the image, the two files in the ZIP, the one in the image, the text.
       {{"total", 6}, {"scanned", 3}},
       {"--files", "all"}});
  // Self-extractors, under the program-files filter: the program goes through the detectors
  // as any program, and the ZIP after its image is scanned under the program's name. The same
  // program with bytes after its image, a ZIP's signature among them, carries nothing.
  rows.push_back({"self_extractors",
                  [](const std::string& tree) {
                    const std::vector<uint8_t> zip =
                        testing::ZipWriter()
                            .Add("README.TXT", {'r'})
                            .Add("INSTALL/EICAR.COM", Sample("eicar.com"))
                            .Build();
                    std::vector<uint8_t> program = Sample("exe_entry.exe");
                    program.insert(program.end(), zip.begin(), zip.end());
                    Put(tree, "SETUP.EXE", program);
                    program.push_back(0);
                    Put(tree, "PLAIN.EXE", program);
                    ASSERT_EQ(RunIn(tree, "zip -qA SETUP.EXE").status, 0);
                  },
                  {"C:\\SETUP.EXE QTF.ExeEntry", "C:\\PLAIN.EXE QTF.ExeEntry",
                   "C:\\SETUP.EXE!INSTALL\\EICAR.COM" + kEicar + " zip:INSTALL\\EICAR.COM"},
                  {},
                  // Two programs and the two files one carries; README.TXT is no program.
                  {{"total", 4}, {"scanned", 3}}});
  // Images no one should trust, among ordinary files, on two threads so that images the
  // program-files filter lets through sit among files detected ahead: each gives a result or
  // a "not scanned" line, and the walk goes on.
  rows.push_back(
      {"hostile_images",
       [](const std::string& tree) {
         Put(tree, "A0EMPTY.IMG", {});
         std::vector<uint8_t> noise(1474560);
         uint32_t state = 1;
         for (uint8_t& byte : noise)
           byte = static_cast<uint8_t>((state = state * 1103515245 + 12345) >> 16);
         Put(tree, "A1NOISE.IMG", noise);
         std::vector<uint8_t> cut = SampleFloppy();
         cut.resize(cut.size() / 2);
         Put(tree, "A2CUT.IMG", cut);
         FatImageWriter looping_writer(testing::FloppyLayout(1440));
         looping_writer.AddFile("LOOP.COM", std::vector<uint8_t>(2048, 'x'));
         std::vector<uint8_t> looping = looping_writer.Build();
         const std::vector<uint32_t> chain = looping_writer.Chain("LOOP.COM");
         looping_writer.SetFatEntry(looping, chain.back(), chain.front());
         looping_writer.SetEntrySize(looping, "LOOP.COM", 1 << 20);
         Put(tree, "A3LOOP.IMG", looping);
         Put(tree, "Z.COM", Sample("eicar.com"));
       },
       {"C:\\A2CUT.IMG!A:\\DOS\\EICAR.COM" + kEicar + " fat12:DOS\\EICAR.COM",
        "C:\\A2CUT.IMG!A:\\Long Name Entry.exe QTF.ExeEntry fat12:Long Name Entry.exe",
        "C:\\Z.COM" + kEicar},
       {"C:\\A2CUT.IMG!A: damaged fat12:", "C:\\A3LOOP.IMG!A:\\LOOP.COM damaged fat12:LOOP.COM"},
       {{"total", 9}},  // 5 here, 3 in the cut floppy, 1 in the other
       {"--jobs", "2"}});
  return rows;
}

class QuarnscanFormats : public QuarnscanCli, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(QuarnscanFormats, WhatIsInsideIsFoundUnderItsNameAndWhatCannotBeReadIsSaidSo) {
  const FormatCase& row = GetParam();
  row.make(tree_);
  std::vector<std::string> arguments = row.arguments;
  arguments.insert(arguments.end(), {"--json", "C:"});
  const Outcome outcome = Scan(arguments);
  EXPECT_EQ(outcome.exit_code, 1) << outcome.err;
  EXPECT_EQ(Described(outcome, "detection"), row.found) << outcome.out;
  EXPECT_EQ(Described(outcome, "incomplete"), row.incomplete) << outcome.out;
  const json summary = outcome.EventsOf("summary").at(0);
  for (const auto& [field, value] : row.summary.items()) EXPECT_EQ(summary[field], value) << field;
}

INSTANTIATE_TEST_SUITE_P(Formats, QuarnscanFormats, ::testing::ValuesIn(Formats()),
                         [](const auto& info) { return info.param.name; });

// Nothing inside an archive changes, and the archive is never touched for what it holds:
// no question, no message, a line that says so.
TEST_F(QuarnscanCli, ActionsInsideAnArchiveAreRefusedAndTheArchiveStays) {
  Put("EICAR.COM", "eicar.com");
  ASSERT_EQ(RunIn(tree_, "zip -q PACK.ZIP EICAR.COM && rm EICAR.COM").status, 0);
  const std::string before = ReadFile(tree_ + "/PACK.ZIP");
  for (const std::string action : {"clean", "delete-ask", "rename"}) {
    const Outcome outcome = Scan({"--json", "--yes", "--action", action, "C:"});
    EXPECT_EQ(outcome.exit_code, 1) << action;
    const std::vector<json> actions = outcome.EventsOf("action");
    ASSERT_EQ(actions.size(), 1u) << action;
    EXPECT_FALSE(actions[0].value("ok", true));
    EXPECT_EQ(outcome.err.find("Cancellare"), std::string::npos) << action;
    EXPECT_NE(outcome.out.find("Non modificabile: C:\\\\PACK.ZIP!EICAR.COM"), std::string::npos)
        << action;
    EXPECT_EQ(ReadFile(tree_ + "/PACK.ZIP"), before) << action;
  }
}

// Each hostile archive ends within its limit, reported.
TEST_F(QuarnscanCli, HostileArchivesEndWithinTheirLimitsAndAreReported) {
  ASSERT_EQ(RunIn(tree_,
                  "head -c 50M /dev/zero > zeros && zip -q BOMB.ZIP zeros && rm zeros && "
                  "for i in 1 2 3; do head -c 8M /dev/urandom > R$i.BIN; done && "
                  "zip -q0 BIG.ZIP R1.BIN R2.BIN R3.BIN && rm R?.BIN && "
                  "truncate -s 10G sparse && tar czf SPARSE.TGZ --sparse sparse && rm sparse && "
                  "echo secret > s.txt && zip -q -P pw LOCKED.ZIP s.txt && rm s.txt && "
                  "mkdir many && for i in $(seq 1 300); do : > many/F$i.TXT; done && "
                  "zip -qr MANY.ZIP many && rm -r many && "
                  "echo x > x.txt && zip -q N1.ZIP x.txt && rm x.txt && "
                  "for i in $(seq 2 14); do zip -q N$i.ZIP N$((i-1)).ZIP && rm N$((i-1)).ZIP; done")
                .status,
            0);
  // 500 central entries that all name one local entry: the reader takes each local entry once.
  const std::vector<uint8_t> one =
      testing::ZipWriter().Add("SAME.COM", Sample("eicar.com")).Build();
  const size_t central = ReadU32(one, one.size() - 6);
  std::vector<uint8_t> overlapping(one.begin(), one.begin() + static_cast<ptrdiff_t>(central));
  const std::vector<uint8_t> record(one.begin() + static_cast<ptrdiff_t>(central), one.end() - 22);
  for (int i = 0; i < 500; ++i) overlapping.insert(overlapping.end(), record.begin(), record.end());
  std::vector<uint8_t> end(one.end() - 22, one.end());
  end[8] = end[10] = 500 & 0xFF;
  end[9] = end[11] = 500 >> 8;
  const uint32_t records = static_cast<uint32_t>(500 * record.size());
  for (int i = 0; i < 4; ++i) end[12 + i] = static_cast<uint8_t>(records >> (8 * i));
  overlapping.insert(overlapping.end(), end.begin(), end.end());
  quarn::Put(tree_, "OVERLAP.ZIP", overlapping);

  const Outcome outcome = Scan({"--json", "--files", "all", "--max-scan-size", "16M",
                                "--max-entries", "100", "--max-ratio", "100", "C:"});
  EXPECT_EQ(outcome.exit_code, 1) << outcome.err;
  EXPECT_EQ(Described(outcome, "incomplete"),
            (std::set<std::string>{
                "C:\\BIG.ZIP!R3.BIN size zip:R3.BIN", "C:\\BOMB.ZIP!zeros ratio zip:zeros",
                "C:\\LOCKED.ZIP!s.txt encrypted zip:s.txt", "C:\\MANY.ZIP entries",
                "C:\\N14.ZIP!N13.ZIP!N12.ZIP!N11.ZIP!N10.ZIP!N9.ZIP!N8.ZIP!N7.ZIP!N6.ZIP!N5.ZIP!"
                "N4.ZIP depth zip:N13.ZIP zip:N12.ZIP zip:N11.ZIP zip:N10.ZIP zip:N9.ZIP "
                "zip:N8.ZIP zip:N7.ZIP zip:N6.ZIP zip:N5.ZIP zip:N4.ZIP",
                "C:\\SPARSE.TGZ!sparse size tar:sparse",
                // Passing over the entry would mean inflating it: the rest is left too.
                "C:\\SPARSE.TGZ size"}));
  EXPECT_EQ(outcome.EventsOf("summary").back().value("incomplete", 0), 7);
  EXPECT_EQ(Described(outcome, "detection"),
            std::set<std::string>{"C:\\OVERLAP.ZIP!SAME.COM" + kEicar + " zip:SAME.COM"});
  // No time at all: the archive is left at its first entry; with nothing but that to report,
  // the exit status is 0.
  const Outcome hurried = Scan({"--json", "--max-time", "0", tree_ + "/N14.ZIP"});
  EXPECT_EQ(hurried.exit_code, 0) << hurried.err;
  EXPECT_EQ(Described(hurried, "incomplete"), std::set<std::string>{"C:\\N14.ZIP time"});
  // No temporary file for an entry past what is held in memory: never judged, so not clean.
  // The extractor's copy of an ARJ needs one from the start.
  ASSERT_EQ(RunIn(tree_,
                  "head -c 3M /dev/zero > BIG.DAT && zip -q SPILL.ZIP BIG.DAT && "
                  "arj a -y SMALL.ARJ BIG.DAT > /dev/null && rm BIG.DAT")
                .status,
            0);
  const Outcome starved =
      Scan({"--json", "--files", "all", tree_ + "/SPILL.ZIP", tree_ + "/SMALL.ARJ"},
           {{"TMPDIR", tree_ + "/none"}});
  EXPECT_EQ(starved.exit_code, 2) << starved.err;
  EXPECT_EQ(Described(starved, "incomplete"),
            (std::set<std::string>{"C:\\SPILL.ZIP!BIG.DAT resource zip:BIG.DAT",
                                   "C:\\SMALL.ARJ resource"}));
}

// Names no packer writes: a line feed that would start a forged line, a path that climbs out,
// 10,000 characters. Shown as they are, with U+FFFD for the control character, and nothing
// written anywhere but the scan's own private files.
TEST_F(QuarnscanCli, HostileNamesNeverForgeALineNorLeaveTheArchive) {
  const std::string eicar = Text(Sample("eicar.com"));
  const std::string forged = "A.COM\nC:\\FORGED.COM Infetto da EICAR-Test-File";
  const std::string longest = std::string(10000, 'L') + ".COM";
  quarn::Put(tree_, "NAMES.TAR",
             testing::WriteWithLibarchive(
                 ARCHIVE_FORMAT_TAR_PAX_INTERCHANGE, ARCHIVE_FILTER_NONE,
                 {{"../../../../tmp/OUT.COM", eicar}, {forged, eicar}, {longest, eicar}}));
  const Outcome outcome = Scan({"--json", "--files", "all", "C:"});
  EXPECT_EQ(outcome.exit_code, 1) << outcome.err;
  std::set<std::string> paths;
  for (const json& event : outcome.EventsOf("detection")) paths.insert(event.value("path", ""));
  EXPECT_EQ(paths, (std::set<std::string>{"C:\\NAMES.TAR!..\\..\\..\\..\\tmp\\OUT.COM",
                                          "C:\\NAMES.TAR!A.COM\xEF\xBF\xBD"
                                          "C:\\FORGED.COM Infetto da EICAR-Test-File",
                                          "C:\\NAMES.TAR!" + longest}));
  EXPECT_FALSE(fs::exists("/tmp/OUT.COM"));
  EXPECT_EQ(outcome.out.find("\"text\":\"C:\\\\FORGED.COM"), std::string::npos);
}

}  // namespace
}  // namespace quarn
