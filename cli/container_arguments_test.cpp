#include "cli/container_arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/exit_codes.h"
#include "cli/scan_arguments.h"

namespace quarn {
namespace {

ArgumentsOutcome ParseContainerWords(std::vector<std::string> words) {
  words.insert(words.begin(), "quarnscan");
  words.push_back("/srv");
  std::vector<const char*> argv;
  for (const std::string& word : words) argv.push_back(word.c_str());
  return ParseScanArguments(static_cast<int>(argv.size()), argv.data());
}

TEST(ContainerSizes, AreBytesOrKibiMebiGibibytes) {
  const std::vector<std::pair<std::string, std::optional<uint64_t>>> sizes = {
      {"0", 0},
      {"4096", 4096},
      {"3k", 3 * 1024},
      {"100M", 100 * kMebibyte},
      {"2g", 2 * 1024 * kMebibyte},
      {"18446744073709551615", UINT64_MAX},
      {"18446744073709551616", std::nullopt},
      {"17179869184G", std::nullopt},
      {"", std::nullopt},
      {"M", std::nullopt},
      {"1.5M", std::nullopt},
      {"-1", std::nullopt},
      {"10MB", std::nullopt},
      {"1T", std::nullopt},
  };
  for (const auto& [text, bytes] : sizes) EXPECT_EQ(ParseSize(text), bytes) << text;
}

TEST(ContainerOptions, EachOptionSetsItsLimitAndTheRestKeepTheStoredOnes) {
  ContainerLimits stored;
  stored.max_depth = 3;
  stored.kinds = kImageContainers;
  struct Case {
    std::vector<std::string> words;
    ContainerLimits expected;
  };
  std::vector<Case> cases;
  const auto with = [&](std::vector<std::string> words, auto change) {
    ContainerLimits expected = stored;
    change(expected);
    cases.push_back({std::move(words), expected});
  };
  with({}, [](ContainerLimits&) {});
  with({"--containers", "NONE"}, [](ContainerLimits& l) { l.kinds = kNoContainers; });
  with({"--containers", "archives"}, [](ContainerLimits& l) { l.kinds = kArchiveContainers; });
  with({"--containers", "all"}, [](ContainerLimits& l) { l.kinds = kAllContainers; });
  with({"--max-depth", "0"}, [](ContainerLimits& l) { l.max_depth = 0; });
  with({"--max-entries", "7"}, [](ContainerLimits& l) { l.max_entries = 7; });
  with({"--max-file-size", "1k"}, [](ContainerLimits& l) { l.max_file_size = 1024; });
  with({"--max-scan-size", "5M"}, [](ContainerLimits& l) { l.max_scan_size = 5 * kMebibyte; });
  with({"--max-ratio", "20"}, [](ContainerLimits& l) { l.max_ratio = 20; });
  with({"--max-time", "4294967295"}, [](ContainerLimits& l) { l.max_time = 4294967295u; });
  for (const Case& test : cases) {
    ArgumentsOutcome outcome = ParseContainerWords(test.words);
    ASSERT_TRUE(outcome.arguments) << outcome.standard_error;
    EXPECT_EQ(outcome.arguments->containers.Over(stored), test.expected)
        << (test.words.empty() ? "" : test.words[0]);
  }
}

TEST(ContainerOptions, AMistakeNamesItsOption) {
  const std::vector<std::vector<std::string>> mistakes = {
      {"--containers", "zip"},    {"--max-depth", "-1"},       {"--max-entries", "many"},
      {"--max-file-size", "12X"}, {"--max-scan-size", "1.5G"}, {"--max-ratio", "4294967296"},
      {"--max-time", ""},
  };
  for (const std::vector<std::string>& words : mistakes) {
    ArgumentsOutcome outcome = ParseContainerWords(words);
    EXPECT_FALSE(outcome.arguments) << words[0];
    EXPECT_EQ(outcome.exit_code, kExitCannotRun) << words[0];
    EXPECT_NE(outcome.standard_error.find(words[0] + ":"), std::string::npos)
        << outcome.standard_error;
  }
}

}  // namespace
}  // namespace quarn
