// SPDX-License-Identifier: Apache-2.0
// quarndb as a user runs it: exit codes, messages and the files it writes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <regex>
#include <string>

#include "imported/test_support/clamav_test_support.h"
#include "platform/test_support/tool_witness.h"
#include "tests/quarnscan_runner.h"

namespace quarn::e2e {
namespace {

struct QuarndbOutcome {
  int exit_code = -1;
  std::string output;  // standard output and standard error together
};

class QuarndbCli : public ::testing::Test {
 protected:
  // `environment` is put before the command as the shell takes it: "NAME=VALUE ".
  QuarndbOutcome RunQuarndb(const std::string& arguments, const std::string& environment = "") {
    const testing::ToolRun run = testing::RunIn(
        scratch_.path(), environment + std::string(QUARN_BIN_DIR) + "/quarndb " + arguments);
    return {WIFEXITED(run.status) ? WEXITSTATUS(run.status) : -1, run.output};
  }
  std::string Path(const std::string& name) { return scratch_.Child(name); }
  ScratchFolder scratch_;
  const fs::path dir_ = scratch_.path();
};

TEST_F(QuarndbCli, BuildDumpBuildGivesTheSameFiles) {
  std::string sources = std::string(QUARN_SOURCE_DIR) + "/res/signatures";
  ASSERT_EQ(RunQuarndb("build " + sources + " -o " + Path("one")).exit_code, 0);
  QuarndbOutcome dumped = RunQuarndb("dump " + Path("one") + " -o " + Path("src"));
  ASSERT_EQ(dumped.exit_code, 0) << dumped.output;
  ASSERT_EQ(RunQuarndb("build " + Path("src") + " -o " + Path("two")).exit_code, 0);
  for (const char* name : {"QUARN.DAT", "NAMEVIR.DAT"}) {
    EXPECT_EQ(ReadFile(dir_ / "one" / name), ReadFile(dir_ / "two" / name)) << name;
  }
  EXPECT_NE(ReadFile(dir_ / "src" / "database.qsig").find("name 1 \"EICAR-Test-File\""),
            std::string::npos);
  // Nothing but the two files: no temporary file is left behind.
  int entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_ / "two")) ++entries;
  EXPECT_EQ(entries, 2);
}

// The shipped sources carry no date: a build dates the database with its own month, the
// reproducible build's when SOURCE_DATE_EPOCH says it (1930000000 is February 2031).
TEST_F(QuarndbCli, InfoDescribesTheDatabaseThatTheBuildDated) {
  const std::string sources = std::string(QUARN_SOURCE_DIR) + "/res/signatures";
  ASSERT_EQ(RunQuarndb("build " + sources + " -o " + Path("db"), "SOURCE_DATE_EPOCH=1930000000 ")
                .exit_code,
            0);
  QuarndbOutcome info = RunQuarndb("info " + Path("db"));
  ASSERT_EQ(info.exit_code, 0) << info.output;
  EXPECT_NE(info.output.find("version   1\ndate      02/2031\n"), std::string::npos) << info.output;
  // The count grows with the test families; the EICAR record alone makes it non-zero.
  EXPECT_TRUE(std::regex_search(info.output, std::regex("\\n +8  com-entry +[1-9][0-9]*\\n")))
      << info.output;
}

TEST_F(QuarndbCli, VerifyExitsOneOnAProblem) {
  WriteFile(Path("bad.qsig"), "name 1 \"One\"\ncom-entry id=2\n");
  ASSERT_EQ(RunQuarndb("build " + Path("bad.qsig") + " -o " + Path("db")).exit_code, 0);
  QuarndbOutcome verified = RunQuarndb("verify " + Path("db"));
  EXPECT_EQ(verified.exit_code, 1);
  EXPECT_NE(verified.output.find("section 8 (com-entry) record 1: VirusId 2 has no name"),
            std::string::npos)
      << verified.output;
  EXPECT_NE(verified.output.find("fixed VirusId 90 has no name"), std::string::npos);

  QuarndbOutcome sound = RunQuarndb(std::string("verify ") + QUARN_DATA_DIR);
  EXPECT_EQ(sound.exit_code, 0) << sound.output;

  WriteFile(Path("db/QUARN.DAT"), std::string(512, '\0'));
  QuarndbOutcome empty = RunQuarndb("verify " + Path("db"));
  EXPECT_EQ(empty.exit_code, 1);
  EXPECT_NE(empty.output.find("QUARN.DAT: 512 bytes hold no image"), std::string::npos)
      << empty.output;
}

// A user's ClamAV database becomes QUARNX.DAT beside the program's own two files, which info
// and verify then cover; a database with nothing usable writes nothing.
TEST_F(QuarndbCli, ImportClamavWritesTheExtraDatabaseThatInfoAndVerifyCover) {
  fs::create_directories(dir_ / "data");
  for (const char* name : {"QUARN.DAT", "NAMEVIR.DAT"}) {
    fs::copy_file(fs::path(QUARN_DATA_DIR) / name, dir_ / "data" / name);
  }
  const std::vector<uint8_t> database = quarn::testing::ClamavDatabase(
      {{"main.ndb", "Dos.Junk-1:0:*:4d5a90cd21\n"}, {"main.ldb", "Logical-1;Target:0;0;4142\n"}},
      true);
  WriteFile(Path("main.cvd"), std::string(database.begin(), database.end()));
  QuarndbOutcome imported = RunQuarndb("import-clamav " + Path("main.cvd") + " -o " + Path("data"));
  EXPECT_EQ(imported.exit_code, 0) << imported.output;
  EXPECT_NE(imported.output.find("1 signatures imported, 1 skipped into " + Path("data") +
                                 "/QUARNX.DAT\n  ldb: 0 imported, 1 skipped (1 form not "
                                 "imported)\n  ndb: 1 imported, 0 skipped\n"),
            std::string::npos)
      << imported.output;

  QuarndbOutcome info = RunQuarndb("info " + Path("data"));
  EXPECT_NE(info.output.find("version   1\n"), std::string::npos) << info.output;
  EXPECT_NE(info.output.find("QUARNX.DAT: 1 imported signature: 1 pattern, 0 file hashes, 0 "
                             "section hashes"),
            std::string::npos)
      << info.output;
  EXPECT_EQ(RunQuarndb("verify " + Path("data")).exit_code, 0);

  std::string extra = ReadFile(dir_ / "data" / "QUARNX.DAT");
  extra[extra.size() - 1] ^= 0x20;
  WriteFile(Path("data/QUARNX.DAT"), extra);
  QuarndbOutcome damaged = RunQuarndb("verify " + Path("data"));
  EXPECT_EQ(damaged.exit_code, 1);
  EXPECT_NE(damaged.output.find(Path("data") + "/QUARNX.DAT: section"), std::string::npos)
      << damaged.output;

  WriteFile(Path("short.ndb"), "Dos.Short-1:0:*:41\n");
  QuarndbOutcome nothing =
      RunQuarndb("import-clamav " + Path("short.ndb") + " -o " + Path("empty"));
  EXPECT_EQ(nothing.exit_code, 1) << nothing.output;
  EXPECT_FALSE(fs::exists(dir_ / "empty" / "QUARNX.DAT"));
}

TEST_F(QuarndbCli, SourceErrorsNameTheFileAndLine) {
  WriteFile(Path("typo.qsig"), "version 1\n\ncom-entry cod=00\n");
  QuarndbOutcome built = RunQuarndb("build " + Path("typo.qsig") + " -o " + Path("db"));
  EXPECT_EQ(built.exit_code, 2);
  EXPECT_NE(built.output.find(Path("typo.qsig") + ":3: unknown field 'cod'"), std::string::npos)
      << built.output;
  EXPECT_FALSE(fs::exists(dir_ / "db" / "QUARN.DAT"));

  QuarndbOutcome missing = RunQuarndb("build " + Path("absent.qsig") + " -o " + Path("db"));
  EXPECT_EQ(missing.exit_code, 2);
  EXPECT_NE(missing.output.find("absent.qsig"), std::string::npos) << missing.output;
}

TEST_F(QuarndbCli, UsageErrorsExitTwoAndHelpExitsZero) {
  EXPECT_EQ(RunQuarndb("").exit_code, 2);
  EXPECT_EQ(RunQuarndb("build").exit_code, 2);
  QuarndbOutcome misspelt = RunQuarndb("verfiy " + Path("db"));
  EXPECT_EQ(misspelt.exit_code, 2);
  EXPECT_NE(misspelt.output.find("unknown command 'verfiy'; the commands are build, dump, verify"),
            std::string::npos)
      << misspelt.output;
  QuarndbOutcome help = RunQuarndb("--help");
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.output.find("verify"), std::string::npos);
}

}  // namespace
}  // namespace quarn::e2e
