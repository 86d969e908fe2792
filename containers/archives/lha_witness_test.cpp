// LhaOpener against lhasa's own tool: archives written by LzhWriter, listed with "lha l" and
// extracted with "lha x", must list and read the same through the opener. The tool belongs
// to the test's setup: without it the test fails, it does not skip.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "containers/test_support/lha_test_support.h"
#include "containers/test_support/lzh_writer.h"
#include "platform/test_support/tool_witness.h"
#include "platform/text_encoding.h"

namespace quarn {
namespace {

using testing::LzhCrc16;
using testing::LzhWriter;
using testing::PatternBytes;
using testing::RunIn;
using testing::ToolRun;
using testing::WitnessFolder;

// What the tool makes of an archive: the names "lha l" lists in order (folders end in "/",
// bytes outside ASCII shown as "?"), and the files and folders "lha x" writes, by the path
// the scan would show.
struct LhaToolView {
  std::vector<std::string> listed;
  std::map<std::string, std::vector<uint8_t>> files;
  std::set<std::string> folders;
};

std::string ShownPath(const std::filesystem::path& relative) {
  const std::string& native = relative.native();
  std::string shown =
      CodePage437ToUtf8(std::span(reinterpret_cast<const uint8_t*>(native.data()), native.size()));
  for (char& c : shown) c = c == '/' ? '\\' : c;
  return shown;
}

LhaToolView ToolWitness(const WitnessFolder& folder, const std::vector<uint8_t>& archive) {
  LhaToolView view;
  folder.Write("t.lzh", archive);
  const ToolRun listing = RunIn(folder.path(), "lha l t.lzh");
  EXPECT_EQ(listing.status, 0) << listing.output;
  std::istringstream lines(listing.output);
  int rules = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("----------", 0) == 0) {
      ++rules;
      continue;
    }
    // Every entry carries the writer's date; the name follows it.
    const size_t date = line.find(" 1994 ");
    if (rules == 1 && date != std::string::npos) view.listed.push_back(line.substr(date + 6));
  }
  const ToolRun extraction = RunIn(folder.path(), "mkdir out && cd out && lha xq ../t.lzh");
  EXPECT_EQ(extraction.status, 0) << extraction.output;
  const std::filesystem::path out = std::filesystem::path(folder.path()) / "out";
  for (const auto& item : std::filesystem::recursive_directory_iterator(out)) {
    const std::string shown = ShownPath(std::filesystem::relative(item.path(), out));
    if (item.is_directory()) {
      view.folders.insert(shown);
    } else if (item.is_regular_file()) {
      view.files[shown] =
          folder.Read("out/" + std::filesystem::relative(item.path(), out).string());
    }
  }
  return view;
}

// A shown path as "lha l" lists it.
std::string AsListed(const ArchiveEntry& entry) {
  std::string listed;
  for (size_t at = 0; at < entry.path.size(); ++at) {
    const auto byte = static_cast<uint8_t>(entry.path[at]);
    if (byte == '\\') {
      listed += '/';
    } else if (byte < 0x80) {
      listed += static_cast<char>(byte);
    } else if ((byte & 0xC0) != 0x80) {
      listed += '?';
    }
  }
  return entry.regular ? listed : listed + "/";
}

// Names in mixed case: the tool lowers all-capital DOS names, which the opener keeps.
LzhWriter& FillMixedCase(LzhWriter& writer) {
  return writer.AddFolder("Games")
      .AddFile("Games/Doom.exe", PatternBytes(70000, 11))
      .AddFile("Read me.txt", {'h', 'i', '\r', '\n'})
      .AddFile("Empty.dat", {})
      .AddFolder("Games/Saves")
      .AddFile("Games/Saves/Caf\x82.sav", PatternBytes(300, 12));
}

struct LhaWitnessCase {
  const char* what;
  int level;
  bool path_header;
  uint8_t os;
};

TEST(LhaWitness, ListingAndDataEqualTheToolsForEveryHeaderLevel) {
  const LhaWitnessCase cases[] = {
      {"level 0", 0, false, LzhWriter::kOsMsDos},
      {"level 1, folders in the name", 1, false, LzhWriter::kOsMsDos},
      {"level 1, folders in the path header", 1, true, LzhWriter::kOsUnix},
      {"level 2 from DOS", 2, true, LzhWriter::kOsMsDos},
      {"level 2 from Unix", 2, true, LzhWriter::kOsUnix},
  };
  for (const LhaWitnessCase& example : cases) {
    LzhWriter writer;
    writer.Level(example.level).PathHeader(example.path_header).Os(example.os);
    const std::vector<uint8_t> archive = FillMixedCase(writer).Build();
    WitnessFolder folder;
    const LhaToolView tool = ToolWitness(folder, archive);
    const testing::WholeArchive read = testing::ReadLha(archive);
    EXPECT_FALSE(read.damaged) << example.what;

    std::vector<std::string> listed;
    std::map<std::string, std::vector<uint8_t>> files;
    for (const testing::ReadEntry& entry : read.entries) {
      listed.push_back(AsListed(entry.entry));
      EXPECT_EQ(entry.failure, std::nullopt) << example.what << ": " << entry.entry.path;
      if (entry.entry.regular) {
        files[entry.entry.path] = entry.data;
      } else {
        EXPECT_TRUE(tool.folders.contains(entry.entry.path))
            << example.what << ": " << entry.entry.path;
      }
    }
    EXPECT_EQ(listed, tool.listed) << example.what;
    EXPECT_EQ(files, tool.files) << example.what;
    EXPECT_EQ(files.size(), 4u) << example.what;
  }
}

// What the opener turns away or reports, the tool shows to be what the fixture claims.
TEST(LhaWitness, TheToolAgreesWithWhatTheOpenerRefusesOrReports) {
  const std::vector<uint8_t> text = {'d', 'a', 't', 'a', '\r', '\n'};
  WitnessFolder folder;

  std::vector<uint8_t> program = {'M', 'Z'};
  program.resize(600, 0x90);
  const std::vector<uint8_t> inner = LzhWriter().AddFile("Setup.exe", text).Build();
  program.insert(program.end(), inner.begin(), inner.end());
  folder.Write("sfx.exe", program);
  const ToolRun self_extracting = RunIn(folder.path(), "lha l sfx.exe");
  EXPECT_NE(self_extracting.output.find("Setup.exe"), std::string::npos) << self_extracting.output;
  EXPECT_FALSE(testing::OpenLha(program).has_value()) << "a program is scanned as a program";

  const std::vector<uint8_t> bad_crc =
      LzhWriter().AddPacked("Bad.txt", "-lh0-", text, 6, LzhCrc16(text) ^ 1).Build();
  folder.Write("crc.lzh", bad_crc);
  const ToolRun tested = RunIn(folder.path(), "lha t crc.lzh");
  EXPECT_NE(tested.output.find("CRC error"), std::string::npos) << tested.output;
  const testing::WholeArchive crc_read = testing::ReadLha(bad_crc);
  ASSERT_EQ(crc_read.entries.size(), 1u);
  EXPECT_EQ(crc_read.entries[0].failure, IncompleteReason::kDamaged);

  const std::vector<uint8_t> old_method =
      LzhWriter().AddPacked("Old.txt", "-lh2-", text, 6, LzhCrc16(text)).Build();
  folder.Write("old.lzh", old_method);
  const ToolRun verbose = RunIn(folder.path(), "lha v old.lzh");
  EXPECT_NE(verbose.output.find("-lh2-"), std::string::npos) << verbose.output;
  EXPECT_NE(RunIn(folder.path(), "lha t old.lzh").status, 0) << "the tool cannot decode it";
  const testing::WholeArchive old_read = testing::ReadLha(old_method);
  ASSERT_EQ(old_read.entries.size(), 1u);
  EXPECT_EQ(old_read.entries[0].entry.unreadable, IncompleteReason::kUnsupported);
}

}  // namespace
}  // namespace quarn
