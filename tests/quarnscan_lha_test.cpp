// quarnscan over LZH archives met in a walk, as a user runs it: what is found inside is named
// through an "lha" layer, and what cannot be read (an old method, data whose CRC is wrong, a
// header that breaks off) is reported incomplete, never counted as clean.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <set>
#include <string>
#include <vector>

#include "containers/test_support/lzh_writer.h"
#include "tests/quarnscan_runner.h"

namespace quarn {
namespace {

using namespace e2e;  // NOLINT(google-build-using-namespace): the runner is this file's vocabulary
using testing::LzhCrc16;
using testing::LzhWriter;

TEST_F(QuarnscanCli, AnLzhArchivesEntriesAreScannedAndWhatCannotBeReadIsSaidSo) {
  const std::vector<uint8_t> eicar = SampleNamed("eicar.com").bytes;
  const std::vector<uint8_t> clean = SampleNamed("clean.com").bytes;
  const auto size = static_cast<uint32_t>(eicar.size());
  WriteFile(tree_ + "/GAMES.LZH",
            Text(LzhWriter()
                     .Level(1)
                     .AddFolder("INSTALL")
                     .AddFile("INSTALL/EICAR.COM", eicar)
                     .AddFile("INSTALL/CLEAN.COM", clean)
                     .AddPacked("OLD.COM", "-lh2-", eicar, size, LzhCrc16(eicar))
                     .AddPacked("BAD.COM", "-lh0-", eicar, size, LzhCrc16(eicar) ^ 1)
                     .Build()));
  LzhWriter broken;
  broken.AddFile("FIRST.COM", clean).AddFile("SECOND.COM", eicar);
  const std::vector<uint8_t> whole = broken.Build();
  WriteFile(tree_ + "/BROKEN.LZH",
            Text(std::vector<uint8_t>(whole.begin(), whole.begin() + broken.HeaderOffset(1) + 9)));

  const Outcome outcome = Scan({"--json", "C:"});
  EXPECT_EQ(outcome.exit_code, 1) << outcome.err;
  const std::string games = tree_ + "/GAMES.LZH";
  ASSERT_EQ(outcome.EventsOf("detection").size(), 1u);
  EXPECT_EQ(outcome.EventsOf("detection")[0],
            json({{"event", "detection"},
                  {"path", "C:\\GAMES.LZH!INSTALL\\EICAR.COM"},
                  {"host_path", games},
                  {"layers", json::array({{{"kind", "lha"}, {"name", "INSTALL\\EICAR.COM"}}})},
                  {"virus_id", 1},
                  {"name", "EICAR-Test-File"},
                  {"variant", false}}));
  std::set<std::string> incomplete;
  for (const json& event : outcome.EventsOf("incomplete")) {
    incomplete.insert(event.value("path", "") + " " + event.value("reason", "") + " " +
                      event.value("layers", json::array()).dump());
  }
  EXPECT_EQ(incomplete, std::set<std::string>({
                            R"(C:\BROKEN.LZH damaged [])",
                            R"(C:\GAMES.LZH!OLD.COM unsupported [{"kind":"lha","name":"OLD.COM"}])",
                            R"(C:\GAMES.LZH!BAD.COM damaged [{"kind":"lha","name":"BAD.COM"}])",
                        }));
  // Both archives and their five entries are counted; the three read whole are scanned.
  const json summary = outcome.EventsOf("summary").at(0);
  EXPECT_EQ(summary["infected"], 1);
  EXPECT_EQ(summary["scanned"], 3);
  EXPECT_EQ(summary["total"], 7);
  EXPECT_EQ(summary["incomplete"], 3);
}

}  // namespace
}  // namespace quarn
