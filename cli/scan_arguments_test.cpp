#include "cli/scan_arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "engine/scan_options.h"

namespace quarn {
namespace {

ArgumentsOutcome Parse(std::vector<std::string> words) {
  words.insert(words.begin(), "quarnscan");
  std::vector<const char*> argv;
  for (const std::string& word : words) argv.push_back(word.c_str());
  return ParseScanArguments(static_cast<int>(argv.size()), argv.data());
}

TEST(ScanArguments, EveryOptionReachesItsField) {
  ArgumentsOutcome outcome = Parse({"--settings",
                                    "/s.reg",
                                    "--data-dir",
                                    "/data",
                                    "--lang",
                                    "EN",
                                    "--files",
                                    "all",
                                    "--action",
                                    "rename-ask",
                                    "--heuristics",
                                    "off",
                                    "--yes",
                                    "--json",
                                    "--log",
                                    "/l/x.log",
                                    "--no-memory",
                                    "--drive",
                                    "c:=/srv",
                                    "--drive",
                                    "A:=/media/floppy,removable",
                                    "--disk",
                                    "0x80=/images/hd.img,1024/16/63",
                                    "A:",
                                    "/srv/files",
                                    "C:\\DOS"});
  ASSERT_TRUE(outcome.arguments) << outcome.standard_error;
  const ScanArguments& arguments = *outcome.arguments;
  EXPECT_EQ(arguments.settings_path, "/s.reg");
  EXPECT_EQ(arguments.data_directory, "/data");
  EXPECT_EQ(arguments.language, Language::kEnglish);
  EXPECT_EQ(arguments.file_filter, 1u);
  EXPECT_EQ(arguments.scan_action, uint32_t{kActionRenameAsk});
  EXPECT_EQ(arguments.heuristics_enabled, 0u);
  EXPECT_EQ(arguments.answer, true);
  EXPECT_TRUE(arguments.json);
  EXPECT_EQ(arguments.log_path, "/l/x.log");
  EXPECT_TRUE(arguments.skip_memory_scan);
  EXPECT_EQ(arguments.drives, (std::vector<std::string>{"c:=/srv", "A:=/media/floppy,removable"}));
  ASSERT_EQ(arguments.disks.size(), 1u);
  EXPECT_EQ(arguments.disks[0],
            (DiskMapping{0x80, "/images/hd.img", SectorGeometry{1024, 16, 63}}));
  EXPECT_EQ(arguments.targets, (std::vector<std::string>{"A:", "/srv/files", "C:\\DOS"}));
}

TEST(ScanArguments, MistakesEndWithStatusTwoAndSaySo) {
  const std::vector<std::vector<std::string>> mistakes = {
      {},                                // no target
      {"--action", "erase", "x"},        // no such action
      {"--files", "some", "x"},          // no such filter
      {"--lang", "de", "x"},             // no such language
      {"--yes", "--no", "x"},            // two answers
      {"--log", "/l", "--no-log", "x"},  // a log and none
      {"--drive", "C:/srv", "x"},        // no '='
      {"--drive", "1:=/srv", "x"},       // not a letter
      {"--disk", "2=/img", "x"},         // no such BIOS disk
      {"--memory-image", "/no/such/file/anywhere", "x"},
      {"--bogus", "x"},
  };
  for (const std::vector<std::string>& words : mistakes) {
    ArgumentsOutcome outcome = Parse(words);
    std::string shown;
    for (const std::string& word : words) shown += word + " ";
    EXPECT_FALSE(outcome.arguments) << shown;
    EXPECT_EQ(outcome.exit_code, kExitCannotRun) << shown;
    EXPECT_EQ(outcome.standard_error.rfind("quarnscan: ", 0), 0u)
        << shown << outcome.standard_error;
  }
}

}  // namespace
}  // namespace quarn
