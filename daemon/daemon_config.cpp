#include "daemon/daemon_config.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <memory>

#include "daemon/clamd_options.h"
#include "daemon/config_values.h"
#include "platform/file_contents.h"
#include "platform/path_names.h"
#include "platform/posix_folder.h"

namespace quarn {

namespace {

// Sets an option's member of the configuration from its value, or tells why it cannot.
using ApplyValue = std::function<Status(std::string_view value, DaemonConfig& config)>;

struct OptionRule {
  std::string_view name;
  ApplyValue apply;
};

template <typename Member>
ApplyValue Text(Member DaemonConfig::*member) {
  return [member](std::string_view value, DaemonConfig& config) {
    config.*member = std::string(value);
    return Status::Ok();
  };
}

ApplyValue Boolean(bool DaemonConfig::*member) {
  return [member](std::string_view value, DaemonConfig& config) {
    Result<bool> parsed = ParseConfigBoolean(value);
    if (!parsed) return parsed.status();
    config.*member = *parsed;
    return Status::Ok();
  };
}

// A number of type T's range, at least `min`; a 0 that clamd reads as "no limit" becomes
// `unlimited` where one is given.
template <typename T, typename Member>
ApplyValue Number(Member DaemonConfig::*member, T min, std::optional<T> unlimited = std::nullopt) {
  return [=](std::string_view value, DaemonConfig& config) {
    Result<uint64_t> parsed = ParseConfigNumber(value, std::numeric_limits<T>::max());
    if (!parsed) return parsed.status();
    if (*parsed == 0 && unlimited) {
      config.*member = *unlimited;
    } else if (*parsed < min) {
      return Status::Error("'" + std::string(value) + "' is too small (at least " +
                           std::to_string(min) + ")");
    } else {
      config.*member = static_cast<T>(*parsed);
    }
    return Status::Ok();
  };
}

// A size, 0 meaning no limit as clamd has it.
template <typename Member>
ApplyValue Size(Member DaemonConfig::*member) {
  return [member](std::string_view value, DaemonConfig& config) {
    Result<uint64_t> parsed = ParseConfigSize(value);
    if (!parsed) return parsed.status();
    config.*member = *parsed == 0 ? kNoSizeLimit : *parsed;
    return Status::Ok();
  };
}

// The daemon goes into the background in "/", and its socket, spool, log and databases are
// used long after it started: a path that would depend on where it was started is refused.
Status RequireAbsolute(std::string_view value) {
  if (value.front() == '/') return Status::Ok();
  return Status::Error("'" + std::string(value) + "' is not an absolute path");
}

template <typename Member>
ApplyValue AbsolutePath(Member DaemonConfig::*member) {
  return [member](std::string_view value, DaemonConfig& config) {
    if (Status absolute = RequireAbsolute(value); !absolute) return absolute;
    config.*member = std::string(value);
    return Status::Ok();
  };
}

// Each scanning thread holds a stack and a scan's buffers; a count far past any machine's cores
// is a slip, and one the system cannot give would leave the daemon short of threads.
constexpr uint32_t kMostThreads = 4096;

Status ApplyMaxThreads(std::string_view value, DaemonConfig& config) {
  Result<uint64_t> parsed = ParseConfigNumber(value, kMostThreads);
  if (!parsed) return parsed.status();
  config.max_threads = static_cast<uint32_t>(*parsed);
  return Status::Ok();
}

Status ApplySocketPath(std::string_view value, DaemonConfig& config) {
  if (Status absolute = RequireAbsolute(value); !absolute) return absolute;
  // A longer path cannot be bound; better said now than when the daemon starts listening.
  if (value.size() >= sizeof(sockaddr_un::sun_path)) {
    return Status::Error("a socket path holds at most " +
                         std::to_string(sizeof(sockaddr_un::sun_path) - 1) + " bytes");
  }
  config.local_socket = std::string(value);
  return Status::Ok();
}

Status ApplySocketMode(std::string_view value, DaemonConfig& config) {
  Result<uint32_t> mode = ParseConfigMode(value);
  if (!mode) return mode.status();
  config.local_socket_mode = *mode;
  return Status::Ok();
}

Status ApplyPort(std::string_view value, DaemonConfig& config) {
  Result<uint64_t> port = ParseConfigNumber(value, std::numeric_limits<uint16_t>::max());
  if (!port) return port.status();
  // clamd reads port 0 as "no TCP socket".
  config.tcp_port =
      *port == 0 ? std::nullopt : std::optional<uint16_t>(static_cast<uint16_t>(*port));
  return Status::Ok();
}

const std::vector<OptionRule>& OptionRules() {
  using C = DaemonConfig;
  static const std::vector<OptionRule> rules = {
      {"LocalSocket", ApplySocketPath},
      {"LocalSocketMode", ApplySocketMode},
      {"LocalSocketGroup", Text(&C::local_socket_group)},
      {"TCPSocket", ApplyPort},
      {"TCPAddr", Text(&C::tcp_address)},
      {"MaxThreads", ApplyMaxThreads},
      {"MaxQueue", Number<uint32_t>(&C::max_queue, 1)},
      {"MaxConnectionQueueLength", Number<uint32_t>(&C::max_connection_queue_length, 1)},
      {"StreamMaxLength", Size(&C::stream_max_length)},
      {"TemporaryDirectory", AbsolutePath(&C::temporary_directory)},
      {"CommandReadTimeout", Number<uint32_t>(&C::command_read_timeout, 1)},
      {"ReadTimeout", Number<uint32_t>(&C::read_timeout, 1)},
      {"SendBufTimeout", Number<uint32_t>(&C::send_buf_timeout_ms, 1)},
      {"DatabaseDirectory", AbsolutePath(&C::database_directory)},
      {"EnableShutdownCommand", Boolean(&C::enable_shutdown_command)},
      {"AlertExceedsMax", Boolean(&C::alert_exceeds_max)},
      {"AlertEncrypted", Boolean(&C::alert_encrypted)},
      {"CrossFilesystems", Boolean(&C::cross_filesystems)},
      {"MaxScanSize", Size(&C::max_scan_size)},
      {"MaxFileSize", Size(&C::max_file_size)},
      {"MaxRecursion", Number<uint32_t>(&C::max_recursion, 1)},
      {"MaxFiles", Number<uint32_t>(&C::max_files, 0, {kNoCountLimit})},
      {"MaxScanTime", Number<uint32_t>(&C::max_scan_time_ms, 0, {kNoCountLimit})},
      {"Foreground", Boolean(&C::foreground)},
      {"LogFile", AbsolutePath(&C::log_file)},
  };
  return rules;
}

const OptionRule* FindRule(std::string_view name) {
  for (const OptionRule& rule : OptionRules()) {
    if (rule.name == name) return &rule;
  }
  return nullptr;
}

bool SameLetters(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

// Why `name` is not an option, with the right spelling when only its case is wrong.
std::string UnknownOption(std::string_view name) {
  std::string cause = "unknown option '" + std::string(name) + "'";
  for (const OptionRule& rule : OptionRules()) {
    if (SameLetters(rule.name, name)) {
      return cause + " (option names are case-sensitive: '" + std::string(rule.name) + "')";
    }
  }
  return cause;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The value without the double quotes around it, or why it is malformed.
Result<std::string_view> Unquoted(std::string_view value) {
  if (value.empty() || value.front() != '"') return value;
  const size_t closing = value.find('"', 1);
  if (closing == std::string_view::npos) return Status::Error("the value has no closing '\"'");
  // clamd drops what follows the closing quote without a word; refusing it says where the
  // value really ends.
  if (closing != value.size() - 1) return Status::Error("text follows the closing '\"'");
  return value.substr(1, closing - 1);
}

}  // namespace

Result<ParsedConfig> ParseDaemonConfig(std::string_view text, const std::string& file_name) {
  ParsedConfig parsed;
  std::map<std::string_view, int> first_lines;
  int line_number = 0;
  while (!text.empty()) {
    ++line_number;
    const size_t end = text.find('\n');
    const std::string_view line = Trim(text.substr(0, end));
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.empty() || line.front() == '#') continue;

    const std::string where = file_name + ", line " + std::to_string(line_number) + ": ";
    const size_t blank = line.find_first_of(" \t");
    const std::string_view name = line.substr(0, blank);
    const std::string_view raw_value =
        blank == std::string_view::npos ? std::string_view() : Trim(line.substr(blank));
    if (name == "Example") {
      return Status::Error(where +
                           "the 'Example' line marks an example file: remove it once the "
                           "file is edited");
    }
    const OptionRule* rule = FindRule(name);
    if (rule == nullptr) {
      if (!IsClamdOption(name)) return Status::Error(where + UnknownOption(name));
      parsed.warnings.push_back(where + "clamd option '" + std::string(name) +
                                "' is not used by quarnd");
      continue;
    }
    Result<std::string_view> value = Unquoted(raw_value);
    if (!value) return Status::Error(where + std::string(name) + ": " + value.message());
    if (value->empty()) {
      return Status::Error(where + "option '" + std::string(name) + "' needs a value");
    }
    // As clamd does, the first line of an option counts; a later one must still be valid.
    auto [first, inserted] = first_lines.emplace(rule->name, line_number);
    DaemonConfig ignored;
    if (Status applied = rule->apply(*value, inserted ? parsed.config : ignored); !applied) {
      return Status::Error(where + std::string(name) + ": " + applied.message());
    }
    if (!inserted) {
      parsed.warnings.push_back(where + "'" + std::string(name) +
                                "' is given again (first on line " + std::to_string(first->second) +
                                "): that line's value is kept");
    }
  }
  return parsed;
}

std::vector<std::string_view> DaemonConfigOptionNames() {
  std::vector<std::string_view> names;
  for (const OptionRule& rule : OptionRules()) names.push_back(rule.name);
  return names;
}

namespace {

// A descriptor the program was started with ("/dev/fd/N": a shell's process substitution, a
// pipe from a manager): a pipe has no name to resolve and no position to read at, so it is
// reopened and read to its end.
Result<std::vector<uint8_t>> ReadPassedDescriptor(const std::string& path) {
  const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return Status::Error("cannot read " + path + ": " + ErrnoText(errno));
  std::vector<uint8_t> bytes;
  uint8_t block[4096];
  while (true) {
    const ssize_t got = read(descriptor, block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || bytes.size() + static_cast<size_t>(got) > kMaxConfigFileSize) {
      const int cause = errno;
      close(descriptor);
      if (got == 0) return bytes;
      return Status::Error("cannot read " + path + ": " +
                           (got < 0 ? ErrnoText(cause) : std::string("the file is too large")));
    }
    bytes.insert(bytes.end(), block, block + got);
  }
}

}  // namespace

Result<ParsedConfig> LoadDaemonConfig(const std::string& path) {
  if (path.rfind("/dev/fd/", 0) == 0) {
    Result<std::vector<uint8_t>> bytes = ReadPassedDescriptor(path);
    if (!bytes) return bytes.status();
    return ParseDaemonConfig({reinterpret_cast<const char*>(bytes->data()), bytes->size()}, path);
  }
  // The file is the administrator's choice, and tools that manage /etc often put a link
  // there: it is followed, as a folder named on a command line is.
  std::unique_ptr<char, decltype(&free)> resolved(realpath(path.c_str(), nullptr), &free);
  if (resolved == nullptr) {
    return Status::Error("cannot read " + path + ": " + ErrnoText(errno));
  }
  std::unique_ptr<FileSystem> files = OpenPosixFileSystem();
  Result<std::vector<uint8_t>> bytes = ReadWholeFile(*files, resolved.get(), kMaxConfigFileSize);
  if (!bytes) return bytes.status();
  const std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
  return ParseDaemonConfig(text, path);
}

}  // namespace quarn
