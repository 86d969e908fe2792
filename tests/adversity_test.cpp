// quarnscan under adversity: a tree that changes while it is walked, a database folder that
// disappears after start-up, a folder of 100,000 files, names holding every byte a name may
// hold, and paths longer than the system's path limit. The answer is never a crash, a hang or
// a lost line: the scan goes on and its totals add up.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/quarnscan_runner.h"

namespace quarn {
namespace {

using namespace e2e;  // NOLINT(google-build-using-namespace): the runner is this file's vocabulary

using AdversityTest = QuarnscanCli;

// The line of the totals block that starts with `label`, or empty.
std::string TotalLine(const Outcome& outcome, const std::string& label) {
  for (const std::string& line : outcome.Lines()) {
    if (line.rfind(label, 0) == 0) return line;
  }
  return "";
}

TEST_F(AdversityTest, ATreeChangingDuringTheScanIsWalkedToItsEnd) {
  Put("A/A.COM", "eicar.com");  // the question here holds the walk while the tree changes
  for (const char* name : {"B/1.COM", "B/2.COM", "C/1.COM", "D/1.COM"}) Put(name, "eicar.com");
  Quarnscan scan(WithFixture({"--action", "delete-ask", "C:"}), {}, Quarnscan::Terminal::kPseudo);
  ASSERT_NE(scan.WaitForTerminal("[y/N] "), "");
  fs::remove(tree_ + "/B/1.COM");    // gone before the walk gets there
  fs::remove_all(tree_ + "/C");      // a whole folder gone
  Put("B/3.COM", "eicar.com");       // new, in a folder not yet listed
  Put("E/1.COM", "eicar.com");       // a new folder
  chmod((tree_ + "/D").c_str(), 0);  // unreadable, unless the tests run as root
  fs::create_directories(tree_ + "/B/2.COM.d");
  scan.Type("n\n");
  for (int i = 0; i < 8; ++i) {
    if (scan.WaitForTerminal("[y/N] ") == "") break;
    scan.Type("n\n");
  }
  Outcome outcome = scan.Finish();
  chmod((tree_ + "/D").c_str(), 0755);
  EXPECT_EQ(outcome.exit_code, 1) << outcome.err;
  const std::string out = outcome.out;
  EXPECT_EQ(CountOf(out, "C:\\B\\1.COM"), 0u) << out;
  EXPECT_EQ(CountOf(out, "C:\\B\\3.COM Infetto da EICAR-Test-File"), 1u) << out;
  EXPECT_EQ(CountOf(out, "C:\\E\\"), 0u) << "the root was listed before E was made";
  EXPECT_EQ(CountOf(out, "C:\\C\\"), 0u) << out;
  // Every file the walk reached is counted once: A, B/2, B/3, and D/1 when D can be read.
  const std::string infected = TotalLine(outcome, "Files Infetti: ");
  EXPECT_TRUE(infected == "Files Infetti: 3." || infected == "Files Infetti: 4.") << out;
  EXPECT_EQ(TotalLine(outcome, "Files Totali: "),
            infected == "Files Infetti: 4." ? "Files Totali: 4." : "Files Totali: 3.");
}

TEST_F(AdversityTest, TheDatabaseFolderVanishingAfterStartUpChangesNothing) {
  const std::string data = DataCopy("data");
  Put("A.COM", "eicar.com");
  Put("B.COM", "eicar.com");
  Quarnscan scan({"--settings", settings_, "--data-dir", data, "--no-memory", "--drive",
                  "C:=" + tree_, "--action", "delete-ask", "C:"},
                 {}, Quarnscan::Terminal::kPseudo);
  ASSERT_NE(scan.WaitForTerminal("[y/N] "), "");
  fs::remove_all(data);
  scan.Type("n\n");
  ASSERT_NE(scan.WaitForTerminal("[y/N] "), "") << "B.COM is still recognised";
  scan.Type("n\n");
  Outcome outcome = scan.Finish();
  EXPECT_EQ(outcome.exit_code, 1) << outcome.err;
  EXPECT_EQ(TotalLine(outcome, "Files Infetti: "), "Files Infetti: 2.") << outcome.out;
}

TEST_F(AdversityTest, AHundredThousandFilesInOneFolder) {
  constexpr int kFiles = 100000;
  const std::string folder = tree_ + "/MANY";
  fs::create_directories(folder);
  for (int i = 0; i < kFiles; ++i) {
    const std::string path = folder + "/F" + std::to_string(i) + ".COM";
    const int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    ASSERT_GE(descriptor, 0) << path;
    close(descriptor);
  }
  Put("MANY/ZZZ.COM", "eicar.com");
  Outcome outcome = Scan({"--json", "C:"});
  EXPECT_EQ(outcome.exit_code, 1) << outcome.err;
  ASSERT_FALSE(outcome.Events().empty());
  const json summary = outcome.Events().back();
  EXPECT_EQ(summary["event"], "summary");
  EXPECT_EQ(summary["total"], kFiles + 1);
  EXPECT_EQ(summary["infected"], 1);
}

TEST_F(AdversityTest, NamesHoldingEveryByteValueAreScannedAndShownSafely) {
  int files = 0;
  for (int byte = 1; byte < 256; ++byte) {
    if (byte == '/') continue;
    const std::string name = "N" + std::string(1, static_cast<char>(byte)) + ".COM";
    if (name == "N..COM") continue;  // an ordinary name; kept once below
    WriteFile(tree_ + "/" + name, "clean");
    ++files;
  }
  // Control bytes that could forge a line or move the cursor, and bytes that are not UTF-8.
  const std::string forged = std::string("X\n[C:]\r\x1b[2J\xff\xfe.COM");
  WriteFile(tree_ + "/" + forged, Text(SampleNamed("eicar.com").bytes));
  ++files;

  Outcome events = Scan({"--json", "--files", "all", "C:"});
  EXPECT_EQ(events.exit_code, 1) << events.err;
  const std::vector<json> all = events.Events();  // each line must parse as JSON
  ASSERT_FALSE(all.empty());
  EXPECT_EQ(all.back()["total"], files);
  const std::vector<json> found = events.EventsOf("detection");
  ASSERT_EQ(found.size(), 1u);

  Outcome plain = Scan({"--files", "all", "C:"});
  const std::vector<std::string> lines = plain.Lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "[C:]"), 1) << "a name forged a header";
  EXPECT_EQ(CountOf(plain.out, "C:\\X?[C:]??[2J??.COM Infetto da EICAR-Test-File"), 1u)
      << plain.out;
}

TEST_F(AdversityTest, PathsLongerThanThePathLimitAreWalked) {
  // 24 folders of 200 bytes: more than 4,800 bytes, beyond PATH_MAX, made one level at a time.
  const std::string level(200, 'L');
  int folder = open(tree_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(folder, 0);
  for (int depth = 0; depth < 24; ++depth) {
    ASSERT_EQ(mkdirat(folder, level.c_str(), 0755), 0);
    const int inner = openat(folder, level.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    close(folder);
    ASSERT_GE(inner, 0);
    folder = inner;
  }
  const std::string eicar = Text(SampleNamed("eicar.com").bytes);
  const int file = openat(folder, "DEEP.COM", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  ASSERT_GE(file, 0);
  ASSERT_EQ(write(file, eicar.data(), eicar.size()), static_cast<ssize_t>(eicar.size()));
  close(file);
  close(folder);
  Put("ZZZ.COM", "eicar.com");  // after the deep branch: the walk must come back out

  Outcome outcome = Scan({"--json", "C:"});
  EXPECT_EQ(outcome.exit_code, 1) << outcome.err;
  ASSERT_FALSE(outcome.Events().empty());
  EXPECT_EQ(outcome.Events().back()["infected"], 2) << outcome.out << outcome.err;
  for (const json& line : outcome.EventsOf("line")) {
    EXPECT_LE(line["text"].get<std::string>().size(), 254u);
  }
  fs::remove_all(tree_);  // std::filesystem copes with the depth; the scratch folder's nftw may not
}

}  // namespace
}  // namespace quarn
