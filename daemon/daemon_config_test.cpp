#include "daemon/daemon_config.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <functional>
#include <string>

#include "platform/test_support/scratch_folder.h"
#include "shell/container_limits.h"

namespace quarn {
namespace {

constexpr char kFile[] = "/etc/quarnexp/quarnd.conf";

DaemonConfig ParsedOrFail(const std::string& text) {
  Result<ParsedConfig> parsed = ParseDaemonConfig(text, kFile);
  EXPECT_TRUE(parsed.ok()) << text << ": " << parsed.message();
  return parsed.ok() ? parsed->config : DaemonConfig();
}

std::string ErrorOf(const std::string& text) {
  Result<ParsedConfig> parsed = ParseDaemonConfig(text, kFile);
  EXPECT_FALSE(parsed.ok()) << text;
  return parsed.message();
}

struct OptionCase {
  std::string line;
  std::function<void(const DaemonConfig&)> check;
};

TEST(DaemonConfigTest, EachOptionSetsItsOwnSetting) {
  const std::vector<OptionCase> cases = {
      {"LocalSocket /run/q.sock", [](auto& c) { EXPECT_EQ(c.local_socket, "/run/q.sock"); }},
      {"LocalSocketMode 0600", [](auto& c) { EXPECT_EQ(c.local_socket_mode, 0600u); }},
      {"LocalSocketGroup scanners", [](auto& c) { EXPECT_EQ(c.local_socket_group, "scanners"); }},
      {"TCPSocket 3310", [](auto& c) { EXPECT_EQ(c.tcp_port, 3310); }},
      {"TCPSocket 0", [](auto& c) { EXPECT_FALSE(c.tcp_port.has_value()); }},
      {"TCPAddr ::1", [](auto& c) { EXPECT_EQ(c.tcp_address, "::1"); }},
      {"MaxThreads 12", [](auto& c) { EXPECT_EQ(c.max_threads, 12u); }},
      {"MaxQueue 40", [](auto& c) { EXPECT_EQ(c.max_queue, 40u); }},
      {"MaxConnectionQueueLength 15",
       [](auto& c) { EXPECT_EQ(c.max_connection_queue_length, 15u); }},
      {"StreamMaxLength 100M", [](auto& c) { EXPECT_EQ(c.stream_max_length, 100u << 20); }},
      {"StreamMaxLength 0", [](auto& c) { EXPECT_EQ(c.stream_max_length, kNoSizeLimit); }},
      {"TemporaryDirectory /var/tmp",
       [](auto& c) { EXPECT_EQ(c.temporary_directory, "/var/tmp"); }},
      {"CommandReadTimeout 30", [](auto& c) { EXPECT_EQ(c.command_read_timeout, 30u); }},
      {"ReadTimeout 300", [](auto& c) { EXPECT_EQ(c.read_timeout, 300u); }},
      {"SendBufTimeout 250", [](auto& c) { EXPECT_EQ(c.send_buf_timeout_ms, 250u); }},
      {"DatabaseDirectory /srv/db", [](auto& c) { EXPECT_EQ(c.database_directory, "/srv/db"); }},
      {"EnableShutdownCommand yes", [](auto& c) { EXPECT_TRUE(c.enable_shutdown_command); }},
      {"AlertExceedsMax true", [](auto& c) { EXPECT_TRUE(c.alert_exceeds_max); }},
      {"AlertEncrypted 1", [](auto& c) { EXPECT_TRUE(c.alert_encrypted); }},
      {"CrossFilesystems no", [](auto& c) { EXPECT_FALSE(c.cross_filesystems); }},
      {"MaxScanSize 400M", [](auto& c) { EXPECT_EQ(c.max_scan_size, 400u << 20); }},
      {"MaxScanSize 0", [](auto& c) { EXPECT_EQ(c.max_scan_size, kNoSizeLimit); }},
      {"MaxFileSize 512k", [](auto& c) { EXPECT_EQ(c.max_file_size, 512u << 10); }},
      {"MaxRecursion 17", [](auto& c) { EXPECT_EQ(c.max_recursion, 17u); }},
      {"MaxFiles 10000", [](auto& c) { EXPECT_EQ(c.max_files, 10000u); }},
      {"MaxFiles 0", [](auto& c) { EXPECT_EQ(c.max_files, kNoCountLimit); }},
      {"MaxScanTime 2500", [](auto& c) { EXPECT_EQ(c.max_scan_time_ms, 2500u); }},
      {"MaxScanTime 0", [](auto& c) { EXPECT_EQ(c.max_scan_time_ms, kNoCountLimit); }},
      {"Foreground yes", [](auto& c) { EXPECT_TRUE(c.foreground); }},
      {"LogFile /var/log/quarnd.log",
       [](auto& c) { EXPECT_EQ(c.log_file, "/var/log/quarnd.log"); }},
  };
  for (const OptionCase& c : cases) {
    SCOPED_TRACE(c.line);
    c.check(ParsedOrFail(c.line + "\n"));
  }
}

TEST(DaemonConfigTest, CommentsBlanksAndQuotesAreReadAsClamdReadsThem) {
  const DaemonConfig config = ParsedOrFail(
      "# a comment\n"
      "   \t# an indented one\n"
      "\n"
      "  MaxThreads\t 3  \r\n"
      "LogFile /var/log/quarnd #1.log\n"
      "TemporaryDirectory \"/srv/scan tmp \"\n"
      "DatabaseDirectory /srv/db");  // no newline at the end
  EXPECT_EQ(config.max_threads, 3u);
  EXPECT_EQ(config.log_file, "/var/log/quarnd #1.log");
  EXPECT_EQ(config.temporary_directory, "/srv/scan tmp ");
  EXPECT_EQ(config.database_directory, "/srv/db");
  // A '#' after the start is the value's, so it makes a number bad.
  EXPECT_EQ(ErrorOf("MaxThreads 3 # three\n"),
            std::string(kFile) + ", line 1: MaxThreads: '3 # three' is not a number");
}

TEST(DaemonConfigTest, AnErrorNamesTheFileTheLineAndTheCause) {
  const std::string prefix = std::string(kFile) + ", line 3: ";
  const std::string before = "# settings\nMaxThreads 4\n";
  EXPECT_EQ(ErrorOf(before + "Frobnicate yes\n"), prefix + "unknown option 'Frobnicate'");
  EXPECT_EQ(ErrorOf(before + "maxqueue 5\n"),
            prefix + "unknown option 'maxqueue' (option names are case-sensitive: 'MaxQueue')");
  EXPECT_EQ(ErrorOf(before + "Foreground on\n"),
            prefix + "Foreground: 'on' is not yes/no, true/false or 1/0");
  EXPECT_EQ(ErrorOf(before + "Foreground\n"), prefix + "option 'Foreground' needs a value");
  EXPECT_EQ(ErrorOf(before + "LogFile \"\"\n"), prefix + "option 'LogFile' needs a value");
  EXPECT_EQ(ErrorOf(before + "LogFile \"/var/log/q\n"),
            prefix + "LogFile: the value has no closing '\"'");
  EXPECT_EQ(ErrorOf(before + "LogFile \"/var/log/q\" x\n"),
            prefix + "LogFile: text follows the closing '\"'");
  EXPECT_EQ(ErrorOf(before + "Example\n"),
            prefix +
                "the 'Example' line marks an example file: remove it once the file is "
                "edited");
}

TEST(DaemonConfigTest, RefusesValuesOutsideTheirRange) {
  for (const char* line :
       {"TCPSocket 65536", "MaxThreads 100000000", "MaxQueue 0", "MaxConnectionQueueLength 0",
        "CommandReadTimeout 0", "ReadTimeout 0", "SendBufTimeout 0", "MaxRecursion 0",
        "MaxScanTime 10k", "StreamMaxLength 18446744073709551616", "LocalSocketMode 1777",
        "LocalSocketMode 0x1ff", "MaxFiles -1"}) {
    ErrorOf(std::string(line) + "\n");
  }
  ErrorOf("LocalSocket /" + std::string(107, 'a') + "\n");
  // Relative paths would point elsewhere once the daemon is in the background, in "/".
  for (const char* line : {"LocalSocket quarnd.ctl", "TemporaryDirectory tmp",
                           "DatabaseDirectory ./db", "LogFile quarnd.log"}) {
    const std::string value = std::string(line).substr(std::string(line).find(' ') + 1);
    EXPECT_NE(ErrorOf(std::string(line) + "\n").find("'" + value + "' is not an absolute path"),
              std::string::npos)
        << line;
  }
  EXPECT_EQ(ParsedOrFail("LocalSocket /" + std::string(106, 'a') + "\n").local_socket.size(), 107u);
}

TEST(DaemonConfigTest, WarnsOfClamdOptionsItDoesNotUseAndOfRepeats) {
  Result<ParsedConfig> parsed = ParseDaemonConfig(
      "User clamav\n"
      "MaxThreads 2\n"
      "ScanPE no\n"
      "ArchiveMaxFiles 9\n"  // deprecated in clamd, still known to it
      "MaxThreads 6\n",
      kFile);
  ASSERT_TRUE(parsed.ok()) << parsed.message();
  EXPECT_EQ(parsed->config.max_threads, 2u);
  const std::string file(kFile);
  EXPECT_EQ(parsed->warnings,
            (std::vector<std::string>{
                file + ", line 1: clamd option 'User' is not used by quarnd",
                file + ", line 3: clamd option 'ScanPE' is not used by quarnd",
                file + ", line 4: clamd option 'ArchiveMaxFiles' is not used by quarnd",
                file + ", line 5: 'MaxThreads' is given again (first on line 2): that line's "
                       "value is kept"}));
}

TEST(DaemonConfigTest, LoadsAFileAndNamesOneThatIsMissing) {
  ScratchFolder scratch;
  ASSERT_FALSE(scratch.path().empty());
  const std::string path = scratch.Child("quarnd.conf");
  std::ofstream(path) << "MaxThreads 9\nPidFile /run/q.pid\n";
  Result<ParsedConfig> loaded = LoadDaemonConfig(path);
  ASSERT_TRUE(loaded.ok()) << loaded.message();
  EXPECT_EQ(loaded->config.max_threads, 9u);
  ASSERT_EQ(loaded->warnings.size(), 1u);
  EXPECT_EQ(loaded->warnings[0], path + ", line 2: clamd option 'PidFile' is not used by quarnd");

  // An administrator's tools may put a link where the file is expected.
  const std::string link = scratch.Child("linked.conf");
  ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
  Result<ParsedConfig> through_link = LoadDaemonConfig(link);
  ASSERT_TRUE(through_link.ok()) << through_link.message();
  EXPECT_EQ(through_link->config.max_threads, 9u);

  Result<ParsedConfig> missing = LoadDaemonConfig(scratch.Child("absent.conf"));
  ASSERT_FALSE(missing.ok());
  EXPECT_NE(missing.message().find(scratch.Child("absent.conf")), std::string::npos)
      << missing.message();
}

// The example file shows each option with its default: uncommented, it must parse, warn of
// nothing and change nothing.
TEST(DaemonConfigTest, TheExampleFileShowsTheDefaults) {
  const std::string source(__FILE__);
  std::ifstream example(source.substr(0, source.rfind('/')) + "/quarnd.conf.example");
  ASSERT_TRUE(example.good());
  std::string uncommented;
  int options = 0;
  for (std::string line; std::getline(example, line);) {
    if (line.size() > 1 && line[0] == '#' && std::isupper(static_cast<unsigned char>(line[1]))) {
      line.erase(0, 1);
      ++options;
    }
    uncommented += line + "\n";
  }
  EXPECT_EQ(options, 25);  // every option quarnd reads
  Result<ParsedConfig> parsed = ParseDaemonConfig(uncommented, "quarnd.conf.example");
  ASSERT_TRUE(parsed.ok()) << parsed.message();
  EXPECT_TRUE(parsed->warnings.empty());
  const DaemonConfig& config = parsed->config;
  const DaemonConfig defaults;
  EXPECT_EQ(config.local_socket, defaults.local_socket);
  EXPECT_EQ(config.local_socket_mode, defaults.local_socket_mode);
  EXPECT_EQ(config.tcp_address, defaults.tcp_address);
  EXPECT_EQ(config.max_queue, defaults.max_queue);
  EXPECT_EQ(config.max_connection_queue_length, defaults.max_connection_queue_length);
  EXPECT_EQ(config.stream_max_length, defaults.stream_max_length);
  EXPECT_EQ(config.command_read_timeout, defaults.command_read_timeout);
  EXPECT_EQ(config.read_timeout, defaults.read_timeout);
  EXPECT_EQ(config.send_buf_timeout_ms, defaults.send_buf_timeout_ms);
  EXPECT_EQ(config.cross_filesystems, defaults.cross_filesystems);
  EXPECT_EQ(config.enable_shutdown_command, defaults.enable_shutdown_command);
  EXPECT_EQ(config.alert_exceeds_max, defaults.alert_exceeds_max);
  EXPECT_EQ(config.alert_encrypted, defaults.alert_encrypted);
  EXPECT_EQ(config.foreground, defaults.foreground);
  const ContainerLimits limits;
  EXPECT_EQ(config.max_scan_size, limits.max_scan_size);
  EXPECT_EQ(config.max_file_size, limits.max_file_size);
  EXPECT_EQ(config.max_recursion, limits.max_depth);
  EXPECT_EQ(config.max_files, limits.max_entries);
  EXPECT_EQ(config.max_scan_time_ms, limits.max_time * 1000);
}

}  // namespace
}  // namespace quarn
