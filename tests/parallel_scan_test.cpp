// quarnscan --jobs: the detection stage on several threads must not change one line, one
// count, one log byte or one byte of what the actions leave behind.
#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "containers/test_support/fat_image_writer.h"
#include "platform/test_support/tool_witness.h"
#include "tests/quarnscan_runner.h"

namespace quarn {
namespace {

using namespace e2e;  // NOLINT(google-build-using-namespace): the runner is this file's vocabulary

class ParallelScanTest : public QuarnscanCli {
 protected:
  // Every sample in three folders, between filler files of random bytes and sizes, a
  // folder of small files that sort among them, and disk images holding samples: a floppy
  // and a partitioned disk, whose files the walk scans on its own thread between the others.
  void BuildTree(const std::string& root) {
    std::mt19937 random(7);
    const std::vector<samples::Sample> all = samples::BuildSampleSet();
    for (const char* folder : {"A", "B/INNER", "C"}) {
      for (size_t i = 0; i < all.size(); ++i) {
        WriteFile(root + "/" + folder + "/" + all[i].name, Text(all[i].bytes));
        std::string filler(random() % 3000, '\0');
        for (char& byte : filler) byte = static_cast<char>(random());
        WriteFile(root + "/" + folder + "/F" + std::to_string(i) + ".COM", filler);
      }
    }
    for (int i = 0; i < 150; ++i) WriteFile(root + "/D/" + std::to_string(i) + ".EXE", "MZ");
    testing::FatImageWriter floppy(testing::FloppyLayout(1440));
    testing::FatImageWriter partition(testing::HardDiskLayout(16, 8400, 1));
    for (size_t i = 0; i < all.size(); i += 3) {
      floppy.AddFile(all[i].name, all[i].bytes);
      partition.AddFile(all[(i + 1) % all.size()].name, all[(i + 1) % all.size()].bytes);
    }
    WriteFile(root + "/B/DISK.IMG", Text(floppy.Build()));
    WriteFile(root + "/C/HD.IMG",
              Text(testing::PartitionedImageBuilder().Primary(0x06, partition.Build()).Build()));
    // And archives of a folder's samples, the same bytes in every run: times fixed, no
    // owner, no gzip stamp.
    const testing::ToolRun packed = testing::RunIn(
        root,
        "touch -d @0 A A/* && zip -qX -r B/SAMPLES.ZIP A && "
        "tar c --mtime=@0 --owner=0 --group=0 --numeric-owner --sort=name A | gzip -n > "
        "C/SAMPLES.TGZ");
    ASSERT_EQ(packed.status, 0) << packed.output;
  }

  struct Run {
    Outcome outcome;
    std::string log;
    std::map<std::string, std::string> tree;  // what the scan left: name to bytes
  };

  Run ScanWith(const std::string& jobs, const std::string& action) {
    const std::string root = scratch_.Child("tree-" + jobs + "-" + action);
    BuildTree(root);
    const std::string log = scratch_.Child("log-" + jobs + "-" + action);
    Run run;
    run.outcome = Quarnscan({"--settings", settings_, "--data-dir", QUARN_DATA_DIR, "--no-memory",
                             "--log", log, "--drive", "C:=" + root, "--files", "all", "--action",
                             action, "--jobs", jobs, "C:"},
                            {})
                      .Finish();
    run.log = ReadFile(log);
    // The log's stamp holds the time of day; everything else must agree.
    run.log = std::regex_replace(run.log, std::regex("\\d\\d/\\d\\d/\\d\\d - \\d\\d:\\d\\d:\\d\\d"),
                                 "dd/mm/yy - hh:mm:ss");
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
      if (entry.is_regular_file()) {
        run.tree[fs::relative(entry.path(), root).string()] = ReadFile(entry.path().string());
      }
    }
    return run;
  }
};

TEST_F(ParallelScanTest, EveryNumberOfThreadsGivesTheSameScan) {
  for (const std::string action : {"scan", "clean", "delete", "rename"}) {
    const Run one = ScanWith("1", action);
    ASSERT_EQ(one.outcome.exit_code, 1) << action << one.outcome.err;
    ASSERT_GT(one.outcome.Lines().size(), 150u) << action;
    EXPECT_NE(one.outcome.out.find("\\DISK.IMG!A:\\"), std::string::npos) << action;
    EXPECT_NE(one.outcome.out.find("\\HD.IMG!C:\\"), std::string::npos) << action;
    EXPECT_NE(one.outcome.out.find("\\SAMPLES.ZIP!A\\"), std::string::npos) << action;
    EXPECT_NE(one.outcome.out.find("\\SAMPLES.TGZ!A\\"), std::string::npos) << action;
    for (const std::string jobs : {"2", "5"}) {
      const Run many = ScanWith(jobs, action);
      EXPECT_EQ(many.outcome.exit_code, one.outcome.exit_code) << action << " " << jobs;
      // Compared whole but not printed whole: the texts run to hundreds of lines.
      EXPECT_TRUE(many.outcome.out == one.outcome.out) << action << " " << jobs;
      EXPECT_TRUE(many.outcome.err == one.outcome.err) << action << " " << jobs;
      EXPECT_TRUE(many.log == one.log) << action << " " << jobs;
      EXPECT_TRUE(many.tree == one.tree) << action << " " << jobs;
    }
  }
}

// The threads read an archive's entries ahead of its scan, a ZIP inside included: what an
// entry holds, damage inside one and an entry past the size limit come out as on one thread.
TEST_F(ParallelScanTest, ArchiveEntriesReadAheadGiveTheSameEvents) {
  for (const samples::Sample& sample : samples::BuildSampleSet()) {
    WriteFile(tree_ + "/S/" + sample.name, Text(sample.bytes));
  }
  WriteFile(tree_ + "/S/DAMAGED.TXT", std::string(50000, 'd'));
  WriteFile(tree_ + "/S/LARGE.TXT", std::string(300 * 1024, 'L'));
  const testing::ToolRun packed = testing::RunIn(
      tree_,
      "zip -qX -r IN.ZIP S && zip -qX -r ALL.ZIP S IN.ZIP && tar cf ALL.TAR S IN.ZIP && "
      "rm -r S IN.ZIP");
  ASSERT_EQ(packed.status, 0) << packed.output;
  // The outer DAMAGED.TXT's check sum, the same wrong one in both its headers: the entry
  // reads as damaged and the archive goes on.
  std::string zip = ReadFile(tree_ + "/ALL.ZIP");
  for (const auto& [signature, name_at, sum_at] :
       {std::tuple{std::string("PK\x03\x04", 4), 30, 14}, {std::string("PK\x01\x02", 4), 46, 16}}) {
    size_t header = zip.find(signature);
    while (header != std::string::npos && zip.compare(header + name_at, 13, "S/DAMAGED.TXT") != 0) {
      header = zip.find(signature, header + 1);
    }
    ASSERT_NE(header, std::string::npos);
    zip[header + sum_at] ^= 0x55;
  }
  WriteFile(tree_ + "/ALL.ZIP", zip);
  auto scan = [&](const std::string& jobs) {
    return Scan({"--json", "--files", "all", "--max-file-size", "200K", "--jobs", jobs, "C:"}).out;
  };
  const std::string one = scan("1");
  for (const char* expected :
       {"\"reason\":\"damaged\"", "\"reason\":\"size\"", "ALL.ZIP!IN.ZIP!S\\\\", "ALL.TAR!S\\\\",
        "\"event\":\"detection\""}) {
    EXPECT_NE(one.find(expected), std::string::npos) << expected << "\n" << one;
  }
  EXPECT_EQ(scan("2"), one);
}

TEST_F(ParallelScanTest, QuestionsComeOneAtATimeInWalkOrder) {
  BuildTree(tree_);
  Quarnscan scan(WithFixture({"--jobs", "4", "--action", "delete-ask", "C:"}), {},
                 Quarnscan::Terminal::kPseudo);
  std::vector<std::string> asked;
  for (int i = 0; i < 6; ++i) {
    const std::string question = scan.WaitForTerminal("[y/N] ");
    ASSERT_NE(question, "");
    asked.push_back(question.substr(question.find("C:\\")));
    scan.Type("n\n");
  }
  scan.Interrupt();
  scan.Finish();
  std::vector<std::string> sorted = asked;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(asked, sorted) << "questions out of walk order";
  EXPECT_EQ(asked[0].rfind("C:\\A\\", 0), 0u) << asked[0];
}

}  // namespace
}  // namespace quarn
