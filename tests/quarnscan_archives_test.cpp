// quarnscan over archives as a user runs it: the names and layers of what is found at any
// depth, actions refused inside, and every hostile archive ended within its limit and
// reported, never a hang or a forged line.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <set>
#include <string>
#include <vector>

#include "containers/test_support/fat_image_writer.h"
#include "platform/test_support/tool_witness.h"
#include "containers/test_support/zip_writer.h"
#include "tests/quarnscan_runner.h"

namespace quarn {
namespace {

using namespace e2e;  // NOLINT(google-build-using-namespace): the runner is this file's vocabulary
using testing::RunIn;
using testing::ToolRun;

uint32_t ReadLe32(const std::vector<uint8_t>& bytes, size_t at) {
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
         (static_cast<uint32_t>(bytes[at + 3]) << 24);
}

// Each detection as "path @ layers".
std::set<std::string> Found(const Outcome& outcome) {
  std::set<std::string> found;
  for (const json& event : outcome.EventsOf("detection")) {
    std::string place = event.value("path", "") + " @";
    for (const json& layer : event.value("layers", json::array())) {
      place += " " + layer.value("kind", "") + ":" + layer.value("name", "");
    }
    found.insert(place);
  }
  return found;
}

// Each incomplete event as "path reason".
std::multiset<std::string> NotScanned(const Outcome& outcome) {
  std::multiset<std::string> reasons;
  for (const json& event : outcome.EventsOf("incomplete")) {
    reasons.insert(event.value("path", "") + " " + event.value("reason", ""));
  }
  return reasons;
}

// One ustar member: a header naming `name` (through a pax record when it is long) and its
// bytes, so names no packer writes can be tested.
void AppendTarMember(std::vector<uint8_t>& tar, const std::string& name,
                     const std::vector<uint8_t>& bytes) {
  auto header = [&](const std::string& stored, char type, size_t size) {
    std::vector<uint8_t> block(512, 0);
    std::copy_n(stored.begin(), std::min<size_t>(stored.size(), 99), block.begin());
    std::snprintf(reinterpret_cast<char*>(&block[100]), 8, "%07o", 0644);
    std::snprintf(reinterpret_cast<char*>(&block[124]), 12, "%011zo", size);
    std::snprintf(reinterpret_cast<char*>(&block[136]), 12, "%011o", 0);
    block[156] = static_cast<uint8_t>(type);
    std::copy_n(
        "ustar\0"
        "00",
        8, block.begin() + 257);
    std::fill_n(block.begin() + 148, 8, ' ');
    unsigned sum = 0;
    for (uint8_t byte : block) sum += byte;
    std::snprintf(reinterpret_cast<char*>(&block[148]), 8, "%06o", sum);
    tar.insert(tar.end(), block.begin(), block.end());
  };
  auto body = [&](const std::vector<uint8_t>& data) {
    tar.insert(tar.end(), data.begin(), data.end());
    tar.resize((tar.size() + 511) / 512 * 512, 0);
  };
  if (name.size() > 99 || name.find('\n') != std::string::npos) {
    // A record's length counts its own digits.
    const std::string record = " path=" + name + "\n";
    size_t length = record.size() + 1;
    while (std::to_string(length).size() + record.size() != length) {
      length = std::to_string(length).size() + record.size();
    }
    const std::string sized = std::to_string(length) + record;
    header("PaxHeader", 'x', sized.size());
    body(std::vector<uint8_t>(sized.begin(), sized.end()));
  }
  header(name, '0', bytes.size());
  body(bytes);
}

class QuarnscanArchives : public QuarnscanCli {
 protected:
  static std::vector<uint8_t> Sample(const std::string& name) { return SampleNamed(name).bytes; }
  std::string InTree(const std::string& name) const { return tree_ + "/" + name; }
  void Put(const std::string& name, const std::vector<uint8_t>& bytes) {
    WriteFile(InTree(name), Text(bytes));
  }
  ToolRun Run(const std::string& script) const { return RunIn(tree_, script); }
};

// The contract's own example: an image in a ZIP in an ISO, each name as it says. The ZIP is
// stored, so the image is read where it lies in it.
TEST_F(QuarnscanArchives, FilesAtAnyDepthAreNamedLayerByLayer) {
  fs::create_directories(InTree("cd/UTILS"));
  Put("cd/UTILS/README.TXT", {'r'});
  Put("DISK1.IMG", testing::FatImageWriter(testing::FloppyLayout(1440))
                       .AddFile("AUTOEXEC.BAT", Sample("eicar.com"))
                       .Build());
  Put("GAME.EXE", Sample("exe_entry.exe"));
  ASSERT_EQ(Run("zip -q0 cd/UTILS/PACK.ZIP DISK1.IMG GAME.EXE && rm DISK1.IMG GAME.EXE && "
                "genisoimage -quiet -J -R -o SHARE.ISO cd && rm -r cd")
                .status,
            0);
  const Outcome outcome = Scan({"--json", "--files", "all", "C:"});
  EXPECT_EQ(outcome.exit_code, 1) << outcome.err;
  EXPECT_EQ(
      Found(outcome),
      (std::set<std::string>{
          "C:\\SHARE.ISO!UTILS\\PACK.ZIP!DISK1.IMG!A:\\AUTOEXEC.BAT @ iso9660:UTILS\\PACK.ZIP "
          "zip:DISK1.IMG fat12:AUTOEXEC.BAT",
          "C:\\SHARE.ISO!UTILS\\PACK.ZIP!GAME.EXE @ iso9660:UTILS\\PACK.ZIP zip:GAME.EXE"}));
  // The ISO, the ZIP, the image, the two files in the ZIP, the one in the image, the text.
  const json summary = outcome.EventsOf("summary").back();
  EXPECT_EQ(summary.value("total", 0), 6) << summary.dump();
  EXPECT_EQ(summary.value("scanned", 0), 3) << summary.dump();
}

// Nothing inside an archive changes, and the archive is never touched for what it holds:
// no question, no message, a line that says so.
TEST_F(QuarnscanArchives, ActionsInsideAnArchiveAreRefusedAndTheArchiveStays) {
  Put("EICAR.COM", Sample("eicar.com"));
  ASSERT_EQ(Run("zip -q PACK.ZIP EICAR.COM && rm EICAR.COM").status, 0);
  const std::string before = ReadFile(InTree("PACK.ZIP"));
  for (const std::string action : {"clean", "delete-ask", "rename"}) {
    const Outcome outcome = Scan({"--json", "--yes", "--action", action, "C:"});
    EXPECT_EQ(outcome.exit_code, 1) << action;
    const std::vector<json> actions = outcome.EventsOf("action");
    ASSERT_EQ(actions.size(), 1u) << action;
    EXPECT_FALSE(actions[0].value("ok", true));
    EXPECT_EQ(outcome.err.find("Cancellare"), std::string::npos) << action;
    EXPECT_NE(outcome.out.find("Non modificabile: C:\\\\PACK.ZIP!EICAR.COM"), std::string::npos)
        << action;
    EXPECT_EQ(ReadFile(InTree("PACK.ZIP")), before) << action;
  }
}

// Each hostile archive ends within its limit, reported.
TEST_F(QuarnscanArchives, HostileArchivesEndWithinTheirLimitsAndAreReported) {
  ASSERT_EQ(Run("head -c 50M /dev/zero > zeros && zip -q BOMB.ZIP zeros && rm zeros && "
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
  const size_t central = ReadLe32(one, one.size() - 6);
  std::vector<uint8_t> overlapping(one.begin(), one.begin() + static_cast<ptrdiff_t>(central));
  const std::vector<uint8_t> record(one.begin() + static_cast<ptrdiff_t>(central), one.end() - 22);
  for (int i = 0; i < 500; ++i) overlapping.insert(overlapping.end(), record.begin(), record.end());
  std::vector<uint8_t> end(one.end() - 22, one.end());
  end[8] = end[10] = 500 & 0xFF;
  end[9] = end[11] = 500 >> 8;
  const uint32_t records = static_cast<uint32_t>(500 * record.size());
  for (int i = 0; i < 4; ++i) end[12 + i] = static_cast<uint8_t>(records >> (8 * i));
  overlapping.insert(overlapping.end(), end.begin(), end.end());
  Put("OVERLAP.ZIP", overlapping);

  const Outcome outcome = Scan({"--json", "--files", "all", "--max-scan-size", "16M",
                                "--max-entries", "100", "--max-ratio", "100", "C:"});
  EXPECT_EQ(outcome.exit_code, 1) << outcome.err;
  EXPECT_EQ(NotScanned(outcome),
            (std::multiset<std::string>{
                "C:\\BIG.ZIP!R3.BIN size", "C:\\BOMB.ZIP!zeros ratio",
                "C:\\LOCKED.ZIP!s.txt encrypted", "C:\\MANY.ZIP entries",
                "C:\\N14.ZIP!N13.ZIP!N12.ZIP!N11.ZIP!N10.ZIP!N9.ZIP!N8.ZIP!N7.ZIP!N6.ZIP!N5.ZIP!"
                "N4.ZIP depth",
                "C:\\SPARSE.TGZ!sparse size",
                // Passing over the entry would mean inflating it: the rest is left too.
                "C:\\SPARSE.TGZ size"}));
  EXPECT_EQ(outcome.EventsOf("summary").back().value("incomplete", 0), 7);
  EXPECT_EQ(Found(outcome), std::set<std::string>{"C:\\OVERLAP.ZIP!SAME.COM @ zip:SAME.COM"});
  // No time at all: the archive is left at its first entry; with nothing but that to report,
  // the exit status is 0.
  const Outcome hurried = Scan({"--json", "--max-time", "0", InTree("N14.ZIP")});
  EXPECT_EQ(hurried.exit_code, 0) << hurried.err;
  EXPECT_EQ(NotScanned(hurried), (std::multiset<std::string>{"C:\\N14.ZIP time"}));
  // No temporary file for an entry past what is held in memory: never judged, so not clean.
  // The extractor's copy of an ARJ needs one from the start.
  ASSERT_EQ(Run("head -c 3M /dev/zero > BIG.DAT && zip -q SPILL.ZIP BIG.DAT && "
                "arj a -y SMALL.ARJ BIG.DAT > /dev/null && rm BIG.DAT")
                .status,
            0);
  const Outcome starved =
      Scan({"--json", "--files", "all", InTree("SPILL.ZIP"), InTree("SMALL.ARJ")},
           {{"TMPDIR", tree_ + "/none"}});
  EXPECT_EQ(starved.exit_code, 2) << starved.err;
  EXPECT_EQ(NotScanned(starved), (std::multiset<std::string>{"C:\\SPILL.ZIP!BIG.DAT resource",
                                                             "C:\\SMALL.ARJ resource"}));
}

// Names no packer writes: a line feed that would start a forged line, a path that climbs out,
// 10,000 characters. Shown as they are, with U+FFFD for the control character, and nothing
// written anywhere but the scan's own private files.
TEST_F(QuarnscanArchives, HostileNamesNeverForgeALineNorLeaveTheArchive) {
  std::vector<uint8_t> tar;
  const std::string climbing = "../../../../tmp/OUT.COM";
  const std::string forged = "A.COM\nC:\\FORGED.COM Infetto da EICAR-Test-File";
  const std::string longest = std::string(10000, 'L') + ".COM";
  for (const std::string& name : {climbing, forged, longest}) {
    AppendTarMember(tar, name, Sample("eicar.com"));
  }
  tar.resize(tar.size() + 1024, 0);
  Put("NAMES.TAR", tar);
  const Outcome outcome = Scan({"--json", "--files", "all", "C:"});
  EXPECT_EQ(outcome.exit_code, 1) << outcome.err;
  std::set<std::string> paths;
  for (const json& event : outcome.EventsOf("detection")) paths.insert(event.value("path", ""));
  EXPECT_EQ(paths, (std::set<std::string>{"C:\\NAMES.TAR!..\\..\\..\\..\\tmp\\OUT.COM",
                                          "C:\\NAMES.TAR!A.COM\xEF\xBF\xBD"
                                          "C:\\FORGED.COM Infetto da EICAR-Test-File",
                                          "C:\\NAMES.TAR!" + std::string(10000, 'L') + ".COM"}));
  EXPECT_FALSE(fs::exists("/tmp/OUT.COM"));
  EXPECT_EQ(outcome.out.find("\"text\":\"C:\\\\FORGED.COM"), std::string::npos);
}

}  // namespace
}  // namespace quarn
