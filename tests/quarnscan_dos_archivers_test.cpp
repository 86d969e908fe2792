// SPDX-License-Identifier: Apache-2.0
// quarnscan over the DOS archivers' own formats met in a walk, as a user runs it: a file
// squeezed by COMPRESS.EXE is scanned under its name with the "_" put back (or dropped after a
// whole extension), inside a ZIP too, and one whose data breaks off is reported incomplete,
// never counted as clean; ARJ and ARC archives made by the real archivers are scanned inside
// through the extractor.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>
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

// `bytes` squeezed by mscompress, the last character of the name stored as COMPRESS.EXE -r
// stores it.
std::vector<uint8_t> Squeezed(const std::vector<uint8_t>& bytes, char last) {
  std::vector<uint8_t> squeezed = testing::MadeByTool({{"IN", bytes}}, "mscompress IN", "IN_");
  if (squeezed.size() > 9) squeezed[9] = static_cast<uint8_t>(last);
  return squeezed;
}

std::set<std::string> Described(const std::vector<json>& events) {
  std::set<std::string> described;
  for (const json& event : events) {
    described.insert(event.value("path", "") + " " + event.value("reason", "") +
                     event.value("name", "") + " " + event.value("layers", json::array()).dump());
  }
  return described;
}

TEST_F(QuarnscanCli, ASqueezedFileIsScannedUnderItsWholeName) {
  const std::vector<uint8_t> eicar = SampleNamed("eicar.com").bytes;
  const std::vector<uint8_t> squeezed = Squeezed(eicar, 'M');
  WriteFile(tree_ + "/EICAR.CO_", Text(squeezed));
  // As Debian's mscompress names its output: the whole name kept, "_" appended, nothing stored.
  WriteFile(tree_ + "/TOOL.COM_",
            Text(testing::MadeByTool({{"IN", eicar}}, "mscompress IN", "IN_")));
  WriteFile(tree_ + "/DISK1.ZIP", Text(testing::ZipWriter().Add("SETUP.CO_", squeezed).Build()));
  std::vector<uint8_t> text;
  for (int line = 0; line < 200; ++line) {
    const std::string words = "line " + std::to_string(line) + " of an install note\r\n";
    text.insert(text.end(), words.begin(), words.end());
  }
  const std::vector<uint8_t> clean = Squeezed(text, 'E');
  WriteFile(tree_ + "/BROKEN.EX_",
            Text(std::vector<uint8_t>(clean.begin(), clean.begin() + clean.size() / 2)));

  const Outcome outcome = Scan({"--json", "C:"});
  EXPECT_EQ(outcome.exit_code, 1) << outcome.err;
  EXPECT_EQ(Described(outcome.EventsOf("detection")),
            std::set<std::string>({
                R"(C:\EICAR.CO_!EICAR.COM EICAR-Test-File [{"kind":"szdd","name":"EICAR.COM"}])",
                R"(C:\TOOL.COM_!TOOL.COM EICAR-Test-File [{"kind":"szdd","name":"TOOL.COM"}])",
                R"(C:\DISK1.ZIP!SETUP.CO_!SETUP.COM EICAR-Test-File )"
                R"([{"kind":"zip","name":"SETUP.CO_"},{"kind":"szdd","name":"SETUP.COM"}])",
            }));
  EXPECT_EQ(Described(outcome.EventsOf("incomplete")),
            std::set<std::string>({
                R"(C:\BROKEN.EX_!BROKEN.EXE damaged [{"kind":"szdd","name":"BROKEN.EXE"}])",
            }));
}

TEST_F(QuarnscanCli, ArjAndArcArchivesAreScannedInsideThroughTheExtractor) {
  const std::vector<uint8_t> eicar = SampleNamed("eicar.com").bytes;
  const std::vector<uint8_t> clean = SampleNamed("clean.com").bytes;
  // A text whose data is broken is not unpacked under the program-files filter: not reported.
  const std::vector<uint8_t> text(4000, 't');
  std::vector<uint8_t> arj = testing::MadeByTool(
      {{"INSTALL/EICAR.COM", eicar}, {"CLEAN.COM", clean}, {"README.TXT", text}},
      "arj a -r -y -m0 T.ARJ '*'", "T.ARJ");
  arj[std::search(arj.begin(), arj.end(), text.begin(), text.end()) - arj.begin() + 9] ^= 1;
  WriteFile(tree_ + "/GAMES.ARJ", Text(arj));
  WriteFile(tree_ + "/OLD.ARC",
            Text(testing::MadeByTool({{"EICAR.COM", eicar}}, "arc a T.ARC EICAR.COM", "T.ARC")));
  WriteFile(tree_ + "/BBS.ZIP", Text(testing::ZipWriter().Add("-RF.ARJ", arj).Build()));

  const Outcome outcome = Scan({"--json", "C:"});
  EXPECT_EQ(outcome.exit_code, 1) << outcome.err;
  EXPECT_EQ(Described(outcome.EventsOf("detection")),
            std::set<std::string>({
                R"(C:\GAMES.ARJ!INSTALL\EICAR.COM EICAR-Test-File )"
                R"([{"kind":"arj","name":"INSTALL\\EICAR.COM"}])",
                R"(C:\OLD.ARC!EICAR.COM EICAR-Test-File [{"kind":"arc","name":"EICAR.COM"}])",
                R"(C:\BBS.ZIP!-RF.ARJ!INSTALL\EICAR.COM EICAR-Test-File )"
                R"([{"kind":"zip","name":"-RF.ARJ"},{"kind":"arj","name":"INSTALL\\EICAR.COM"}])",
            }));
  EXPECT_TRUE(outcome.EventsOf("incomplete").empty()) << outcome.out;
  const json summary = outcome.EventsOf("summary").at(0);
  EXPECT_EQ(summary["scanned"], 5);  // EICAR and CLEAN twice, EICAR once more
}

// Names in code page 437, and a floppy image holding an archive.
TEST_F(QuarnscanCli, ArjNamesAreCodePage437AndArchivesNestInImages) {
  const std::vector<uint8_t> eicar = SampleNamed("eicar.com").bytes;
  WriteFile(tree_ + "/NAMES.ARJ", Text(testing::MadeByTool({{"\x81"
                                                             "BER.COM",
                                                             eicar}},
                                                           "arj a -y T.ARJ '*'", "T.ARJ")));
  const std::vector<uint8_t> games =
      testing::MadeByTool({{"INSTALL/EICAR.COM", eicar}}, "arj a -r -y T.ARJ '*'", "T.ARJ");
  WriteFile(tree_ + "/DISK.IMG", Text(testing::FatImageWriter(testing::FloppyLayout(1440))
                                          .AddFile("GAMES.ARJ", games)
                                          .Build()));
  const Outcome outcome = Scan({"--json", "--files", "all", "C:"});
  EXPECT_EQ(outcome.exit_code, 1) << outcome.err;
  EXPECT_EQ(
      Described(outcome.EventsOf("detection")),
      std::set<std::string>({
          "C:\\NAMES.ARJ!\u00fcBER.COM EICAR-Test-File "
          "[{\"kind\":\"arj\",\"name\":\"\u00fcBER.COM\"}]",
          R"(C:\DISK.IMG!A:\GAMES.ARJ!INSTALL\EICAR.COM EICAR-Test-File )"
          R"([{"kind":"fat12","name":"GAMES.ARJ"},{"kind":"arj","name":"INSTALL\\EICAR.COM"}])",
      }));
  EXPECT_TRUE(outcome.EventsOf("incomplete").empty()) << outcome.out;
}

}  // namespace
}  // namespace quarn
