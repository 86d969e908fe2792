// quarnd: the scanning daemon on the ClamAV daemon's protocol.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "daemon/daemon_config.h"
#include "daemon/daemon_databases.h"
#include "daemon/daemon_log.h"
#include "daemon/daemon_server.h"
#include "daemon/request_answers.h"
#include "daemon/systemd_link.h"
#include "platform/executable_location.h"

namespace quarn {
namespace {

constexpr const char* kDefaultConfig = "/etc/quarnexp/quarnd.conf";

void Say(const std::string& text) {
  const std::string line = "quarnd: " + text + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
}

std::string DatabaseFolder(const DaemonConfig& config) {
  return config.database_directory ? *config.database_directory : BundledDataDirectory();
}

ContainerLimits LimitsOf(const DaemonConfig& config) {
  ContainerLimits limits;
  if (config.max_scan_size) limits.max_scan_size = *config.max_scan_size;
  if (config.max_file_size) limits.max_file_size = *config.max_file_size;
  if (config.max_recursion) limits.max_depth = *config.max_recursion;
  if (config.max_files) limits.max_entries = *config.max_files;
  // The scan counts whole seconds; a limit in milliseconds is not cut to none.
  if (config.max_scan_time_ms) limits.max_time = (*config.max_scan_time_ms + 999) / 1000;
  return limits;
}

// Enough descriptors for every thread's scan, every queued job with its client, the backlog,
// and idle clients besides; never lowered.
void RaiseDescriptorLimit(const DaemonConfig& config, size_t threads, DaemonLog& log) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  const rlim_t needed = static_cast<rlim_t>(threads * 8 + config.max_queue * 2 +
                                            config.max_connection_queue_length * 2 + 4096);
  if (limit.rlim_cur >= needed) return;
  const rlim_t wanted = limit.rlim_max == RLIM_INFINITY ? needed : std::min(needed, limit.rlim_max);
  limit.rlim_cur = wanted;
  if (setrlimit(RLIMIT_NOFILE, &limit) != 0 || wanted < needed) {
    log.Line("WARNING: the descriptor limit is " + std::to_string(wanted) + ", below the " +
             std::to_string(needed) + " this configuration may need");
  }
}

Result<std::vector<Listener>> OpenListeners(const DaemonConfig& config) {
  std::vector<Listener> listeners;
  for (const ActivatedSocket& activated : TakeActivatedSockets()) {
    // The loop accepts until nothing waits: a listener systemd made blocking would stop it.
    fcntl(activated.descriptor, F_SETFL, fcntl(activated.descriptor, F_GETFL) | O_NONBLOCK);
    Listener listener;
    listener.descriptor = UniqueDescriptor(activated.descriptor);
    listener.unix_socket = activated.unix_socket;
    listeners.push_back(std::move(listener));
  }
  if (!listeners.empty()) return listeners;
  const int backlog = static_cast<int>(config.max_connection_queue_length);
  // The socket's folder, when missing, is made for it, as the service's runtime folder would be.
  const std::string folder = config.local_socket.substr(0, config.local_socket.rfind('/'));
  if (!folder.empty()) mkdir(folder.c_str(), 0755);
  auto local = ListenOnUnixSocket(
      {config.local_socket, config.local_socket_mode, config.local_socket_group}, backlog);
  if (!local) return local.status();
  listeners.push_back(std::move(*local));
  if (config.tcp_port) {
    auto tcp = ListenOnTcp({config.tcp_address, *config.tcp_port}, backlog);
    if (!tcp) {
      unlink(listeners.front().created_path.c_str());
      return tcp.status();
    }
    listeners.push_back(std::move(*tcp));
  }
  return listeners;
}

int RunDaemon(const std::string& config_path, bool config_given, bool foreground_flag,
              bool version_only) {
  // Without a configuration file of its own the daemon runs on the defaults; a file named on
  // the command line must be there.
  struct stat facts {};
  const bool use_defaults = !config_given && stat(config_path.c_str(), &facts) != 0;
  auto parsed = use_defaults ? Result<ParsedConfig>(ParsedConfig{}) : LoadDaemonConfig(config_path);
  if (!parsed) {
    Say(parsed.message());
    return 2;
  }
  const DaemonConfig& config = parsed->config;
  // Every temporary file of a scan (a stream's spool, an archive entry's, the extractor's copy
  // of an archive) goes where the administrator said; set before any thread runs.
  if (config.temporary_directory) setenv("TMPDIR", config.temporary_directory->c_str(), 1);
  const std::string database_folder = DatabaseFolder(config);
  auto databases = LoadDatabaseSet(database_folder);
  if (!databases) {
    Say(databases.message());
    return 2;
  }
  if (version_only) {
    std::printf("quarnd %s\n%s\n", QUARN_VERSION,
                DatabaseVersionText((*databases)->version, database_folder).c_str());
    return 0;
  }
  DaemonLog log;
  if (config.log_file) {
    if (Status opened = log.OpenFile(*config.log_file); !opened) {
      Say(opened.message());
      return 2;
    }
  }
  for (const std::string& warning : parsed->warnings) log.Line("WARNING: " + warning);

  const size_t threads = config.max_threads != 0
                             ? config.max_threads
                             : std::max<size_t>(1, std::thread::hardware_concurrency());
  RaiseDescriptorLimit(config, threads, log);
  auto listeners = OpenListeners(config);
  if (!listeners) {
    log.Line("ERROR: " + listeners.message());
    return 2;
  }
  if (!foreground_flag && !config.foreground) {
    // Into the background: the sockets are open already, so a client may connect at once.
    if (daemon(0, config.log_file ? 0 : 1) != 0) {
      log.Line("ERROR: cannot go into the background");
      return 2;
    }
  }
  BlockDaemonSignals();

  ServerSettings settings;
  settings.listeners = std::move(*listeners);
  settings.threads = threads;
  settings.max_queue = config.max_queue;
  settings.connection.stream_max_length = config.stream_max_length;
  // None configured: the spool's own default, $TMPDIR else /tmp.
  settings.connection.temporary_folder = config.temporary_directory.value_or("");
  settings.command_read_timeout = std::chrono::seconds(config.command_read_timeout);
  settings.read_timeout = std::chrono::seconds(config.read_timeout);
  settings.send_buf_timeout = std::chrono::milliseconds(config.send_buf_timeout_ms);
  settings.enable_shutdown_command = config.enable_shutdown_command;
  settings.scan.limits = LimitsOf(config);
  settings.scan.alert_exceeds_max = config.alert_exceeds_max;
  settings.scan.alert_encrypted = config.alert_encrypted;
  settings.scan.cross_filesystems = config.cross_filesystems;
  settings.program_version = QUARN_VERSION;
  settings.database_folder = database_folder;

  DatabaseSlot slot(std::move(*databases));
  log.Line("quarnd " + std::string(QUARN_VERSION) + " started, " + std::to_string(threads) +
           " scanning threads, databases from " + database_folder);
  DaemonServer server(std::move(settings), slot, log);
  return server.Run();
}

}  // namespace
}  // namespace quarn

int main(int argc, char** argv) {
  CLI::App app{
      "quarnd: the Quarn Explorer scanning daemon. It answers the ClamAV daemon's protocol on a "
      "Unix socket (and on TCP when configured), so clamdscan and other clients of that "
      "protocol can scan with it. It never changes a file."};
  std::string config_path = quarn::kDefaultConfig;
  bool foreground = false;
  bool version = false;
  CLI::Option* config_option = app.add_option(
      "-c,--config", config_path,
      "configuration file in clamd.conf syntax (default: /etc/quarnexp/quarnd.conf)");
  // clamd's spelling, for scripts and units written for it; not shown, so help names one.
  CLI::Option* clamd_config_option = app.add_option("--config-file", config_path)->group("");
  app.add_flag("-F,--foreground", foreground, "stay in the foreground (for systemd and by hand)");
  app.add_flag("-V,--version", version, "print the program's and the database's versions and exit");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // Help and version are successes; any other fault of the command line is a usage error,
    // told with the same status as a bad configuration.
    const int status = app.exit(error);
    return status == 0 ? 0 : 2;
  }
  return quarn::RunDaemon(config_path, config_option->count() + clamd_config_option->count() > 0,
                          foreground, version);
}
