#pragma once

// quarnd's configuration file, in clamd.conf's syntax so that an administrator's habits carry
// over: one "Option value" a line, the option's name case-sensitive, the value the rest of
// the line (blanks around it dropped; double quotes around it removed, for a value with
// blanks at its ends). A line whose first non-blank character is '#' is a comment; as in
// clamd, a '#' later in a line is part of the value. An option named as in clamd.conf means
// what it means there, units included.

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace quarn {

// A limit the file sets to 0, which clamd reads as "no limit", is held as its type's
// largest value, so that a plain comparison with it never refuses anything.
inline constexpr uint64_t kNoSizeLimit = std::numeric_limits<uint64_t>::max();
inline constexpr uint32_t kNoCountLimit = std::numeric_limits<uint32_t>::max();

struct DaemonConfig {
  std::string local_socket = "/run/quarnexp/quarnd.ctl";
  uint32_t local_socket_mode = 0660;
  std::optional<std::string> local_socket_group;  // none: the daemon's group
  std::optional<uint16_t> tcp_port;               // none: no TCP socket ("TCPSocket 0" too)
  std::string tcp_address = "127.0.0.1";
  uint32_t max_threads = 0;  // 0: the number of cores, which the caller finds
  uint32_t max_queue = 100;
  uint32_t max_connection_queue_length = 200;
  uint64_t stream_max_length = 25 * uint64_t{1024 * 1024};
  std::optional<std::string> temporary_directory;  // none: $TMPDIR, else /tmp
  uint32_t command_read_timeout = 5;               // seconds, at least 1
  uint32_t read_timeout = 120;                     // seconds, at least 1
  // Milliseconds a client may leave its replies unread (the socket taking none of them)
  // before it is disconnected; at least 1.
  uint32_t send_buf_timeout_ms = 500;
  std::optional<std::string> database_directory;  // none: the bundled database
  bool enable_shutdown_command = false;
  bool alert_exceeds_max = false;
  bool alert_encrypted = false;
  bool cross_filesystems = true;  // folder scans go into the file systems mounted below
  // Container limits that replace shell/container_limits.h's defaults where the file gives
  // them: sizes in bytes, counts, and the time in milliseconds (as clamd has it).
  std::optional<uint64_t> max_scan_size;
  std::optional<uint64_t> max_file_size;
  std::optional<uint32_t> max_recursion;  // at least 1: clamd refuses 0 too
  std::optional<uint32_t> max_files;
  std::optional<uint32_t> max_scan_time_ms;
  bool foreground = false;
  std::optional<std::string> log_file;  // none: standard error
};

struct ParsedConfig {
  DaemonConfig config;
  // Whole texts for the log ("FILE, line N: ..."): options clamd knows that quarnd does not
  // use, and options given twice (the first line's value is kept, as clamd keeps it).
  std::vector<std::string> warnings;
};

// The configuration that `text` gives, `file_name` naming it in messages. An unknown option,
// a bad or missing value, or an "Example" line (the guard clamd's sample file carries, which
// clamd refuses to start with as well) fails with "FILE, line N: CAUSE" and nothing else.
Result<ParsedConfig> ParseDaemonConfig(std::string_view text, const std::string& file_name);

// The name of every option ParseDaemonConfig applies (not the clamd options it only warns
// about), for documentation and tools to be checked against.
std::vector<std::string_view> DaemonConfigOptionNames();

// Reads the file at `path` (at most kMaxConfigFileSize bytes) and parses it; a file that
// cannot be read, a missing one included, fails with a message naming it.
inline constexpr uint64_t kMaxConfigFileSize = uint64_t{1} << 20;
Result<ParsedConfig> LoadDaemonConfig(const std::string& path);

}  // namespace quarn
