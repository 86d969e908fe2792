// Real clients against quarnd: clamdscan in each of its ways of handing over a file, and
// pyclamd through the calls an application makes. Both are packages of the plain test run.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <set>

#include "platform/test_support/tool_witness.h"
#include "tests/quarnd_process.h"

namespace quarn::e2e {
namespace {

using testing::Quoted;
using testing::RunIn;

std::set<std::string> LinesOf(const std::string& text) {
  const std::vector<std::string> lines = SplitOn(text, '\n');
  return {lines.begin(), lines.end()};
}

int ExitCode(const testing::ToolRun& run) {
  return WIFEXITED(run.status) ? WEXITSTATUS(run.status) : -1;
}

class QuarndClientsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    daemon_ = new QuarndProcess();
    files_ = daemon_->folder() + "/files";
    WriteFile(files_ + "/eicar.com", SampleBytes("eicar.com"));
    WriteFile(files_ + "/clean.com", SampleBytes("clean.com"));
    WriteFile(files_ + "/tree/a/one.com", SampleBytes("eicar.com"));
    WriteFile(files_ + "/tree/b/two.com", SampleBytes("eicar.com"));
    WriteFile(files_ + "/tree/clean.com", SampleBytes("clean.com"));
    WriteFile(daemon_->folder() + "/clamdscan.conf",
              "LocalSocket " + daemon_->socket_path() + "\n");
  }
  static void TearDownTestSuite() {
    delete daemon_;
    daemon_ = nullptr;
  }

  static testing::ToolRun Clamdscan(const std::string& arguments) {
    return RunIn(daemon_->folder(),
                 "clamdscan --config-file=clamdscan.conf --no-summary " + arguments);
  }
  static testing::ToolRun Python(const std::string& script) {
    // The system's interpreter: the package's module is installed for it, not for one on PATH.
    return RunIn(daemon_->folder(), "/usr/bin/python3 -c " + Quoted(script) + " " +
                                        Quoted(daemon_->socket_path()) + " " + Quoted(files_));
  }

  static QuarndProcess* daemon_;
  static std::string files_;
};

QuarndProcess* QuarndClientsTest::daemon_ = nullptr;
std::string QuarndClientsTest::files_;

TEST_F(QuarndClientsTest, ClamdscanGetsVerdictsAndExitCodesInEveryMode) {
  ASSERT_TRUE(daemon_->running()) << daemon_->Log();
  const std::string eicar = files_ + "/eicar.com";
  const std::string clean = files_ + "/clean.com";
  const std::string missing = files_ + "/missing.com";
  const std::set<std::string> tree = {files_ + "/tree/a/one.com: EICAR-Test-File FOUND",
                                      files_ + "/tree/b/two.com: EICAR-Test-File FOUND"};
  // Plain: CONTSCAN of the path; -m: MULTISCAN; --stream: INSTREAM; --fdpass: FILDES; with -m
  // the last two go in one IDSESSION.
  for (const std::string mode : {"", "--stream", "--fdpass", "-m", "-m --stream", "-m --fdpass"}) {
    SCOPED_TRACE("clamdscan " + mode);
    testing::ToolRun run = Clamdscan(mode + " " + eicar);
    EXPECT_EQ(ExitCode(run), 1);
    EXPECT_EQ(run.output, eicar + ": EICAR-Test-File FOUND\n");
    run = Clamdscan(mode + " " + clean);
    EXPECT_EQ(ExitCode(run), 0);
    EXPECT_EQ(run.output, clean + ": OK\n");
    run = Clamdscan(mode + " " + missing);
    EXPECT_EQ(ExitCode(run), 2);
    EXPECT_NE(run.output.find(missing), std::string::npos) << run.output;
    run = Clamdscan(mode + " " + files_ + "/tree " + clean);
    EXPECT_EQ(ExitCode(run), 1);
    std::set<std::string> expected = tree;
    expected.insert(clean + ": OK");
    EXPECT_EQ(LinesOf(run.output), expected) << run.output;
  }
}

TEST_F(QuarndClientsTest, ClamdscanPingsAndShowsTheVersionOfTheDaemon) {
  testing::ToolRun run = Clamdscan("--ping 1");
  EXPECT_EQ(ExitCode(run), 0);
  EXPECT_EQ(run.output, "PONG\n");
  // Without an answer clamdscan prints its own version; this one comes from the daemon.
  run = Clamdscan("--version");
  EXPECT_EQ(ExitCode(run), 0);
  EXPECT_TRUE(run.output.starts_with("Quarn Explorer ")) << run.output;
  EXPECT_EQ(std::count(run.output.begin(), run.output.end(), '/'), 2) << run.output;
}

TEST_F(QuarndClientsTest, PyclamdReadsVerdictsOfStreamsAndFiles) {
  const testing::ToolRun run = Python(R"(
import sys, pyclamd
socket, files = sys.argv[1], sys.argv[2]
daemon = pyclamd.ClamdUnixSocket(filename=socket)
eicar = open(files + '/eicar.com', 'rb').read()
clean = open(files + '/clean.com', 'rb').read()
print(daemon.ping())
print(daemon.version().split(' ')[0])
print(daemon.scan_stream(eicar))
print(daemon.scan_stream(clean))
print(daemon.scan_stream(clean * 3000))
print(daemon.scan_file(files + '/eicar.com') == {files + '/eicar.com': ('FOUND', 'EICAR-Test-File')})
print(daemon.scan_file(files + '/clean.com'))
print(daemon.multiscan_file(files + '/tree') == {
    files + '/tree/a/one.com': ('FOUND', 'EICAR-Test-File'),
    files + '/tree/b/two.com': ('FOUND', 'EICAR-Test-File')})
)");
  EXPECT_EQ(ExitCode(run), 0) << run.output;
  EXPECT_EQ(run.output,
            "True\n"
            "Quarn\n"
            "{'stream': ('FOUND', 'EICAR-Test-File')}\n"
            "None\n"
            "None\n"
            "True\n"
            "None\n"
            "True\n");
}

}  // namespace
}  // namespace quarn::e2e
