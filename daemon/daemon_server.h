#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "containers/all_containers_opener.h"
#include "daemon/client_connection.h"
#include "daemon/daemon_databases.h"
#include "daemon/daemon_log.h"
#include "daemon/daemon_scan.h"
#include "daemon/listening_sockets.h"
#include "daemon/request_answers.h"
#include "daemon/worker_pool.h"

namespace quarn {

struct ServerSettings {
  std::vector<Listener> listeners;
  size_t threads = 2;
  size_t max_queue = 100;
  ConnectionLimits connection;
  std::chrono::milliseconds command_read_timeout{5000};
  std::chrono::milliseconds read_timeout{120000};
  // How long a client may leave its replies unread (the socket taking none) before it is cut.
  std::chrono::milliseconds send_buf_timeout{500};
  bool enable_shutdown_command = false;
  DaemonScanSettings scan;
  std::string program_version;
  std::string database_folder;  // what RELOAD loads again
};

// Blocks the signals the server takes through its own descriptor (SIGTERM, SIGINT, SIGUSR2,
// SIGHUP) and ignores SIGPIPE. Call before any thread starts, so every thread inherits it.
void BlockDaemonSignals();

// The daemon at work: one thread waits on every socket and answers what costs nothing; scans
// go to a fixed pool of threads and their replies come back here to be written, so a slow or
// idle client holds a descriptor, never a thread.
class DaemonServer {
 public:
  DaemonServer(ServerSettings settings, DatabaseSlot& databases, DaemonLog& log);
  ~DaemonServer();
  DaemonServer(const DaemonServer&) = delete;
  DaemonServer& operator=(const DaemonServer&) = delete;

  // Serves until SIGTERM, SIGINT or SHUTDOWN; then takes no more connections, lets the work
  // in flight finish (or ends it) within 10 s and removes the socket files it made. The
  // result is the process's exit status.
  int Run();

 private:
  struct Client;
  struct Completion {
    uint64_t client = 0;
    std::string reply;
  };
  struct WaitingJob {
    uint64_t client = 0;
    std::shared_ptr<ClientRequest> request;
  };

  bool SetUp();
  void Accept(size_t listener_index);
  void ReadFrom(Client& client);
  void Dispatch(Client& client);
  void Answer(Client& client, ClientRequest request);
  void Submit(Client& client, ClientRequest request);
  bool ScansAtOnce(ClientRequest& request) const;
  void StartJobs();
  void TakeCompletions();
  void Flush(Client& client);
  void Settle(Client& client);
  void Close(uint64_t id);
  void CheckDeadlines();
  void TrimMemory(std::chrono::steady_clock::time_point now);
  void StartReload();
  void BeginStopping();
  std::string StatsText() const;
  bool MayControl(const Client& client) const;
  void Watch(int descriptor, uint64_t key, uint32_t events, bool add);
  void PauseAccepting();
  void ResumeAccepting();

  ServerSettings settings_;
  DatabaseSlot& databases_;
  DaemonLog& log_;
  Asker daemon_asker_;
  AllContainersOpener containers_;  // only asked whether a stream may be a container
  std::unique_ptr<WorkerPool> pool_;
  UniqueDescriptor epoll_;
  UniqueDescriptor signals_;
  UniqueDescriptor wakeup_;  // an eventfd the workers write when a reply is ready
  std::unordered_map<uint64_t, std::unique_ptr<Client>> clients_;
  std::vector<uint8_t> read_buffer_ =
      std::vector<uint8_t>(64 * 1024);  // the loop's, for every read
  uint64_t next_client_id_ = 0;
  std::vector<WaitingJob> waiting_;
  size_t jobs_in_pool_ = 0;
  std::mutex completions_mutex_;
  std::vector<Completion> completions_;
  std::atomic<bool> reloading_{false};
  std::thread reload_thread_;
  bool stopping_ = false;
  std::chrono::steady_clock::time_point stop_started_;
  // Out of descriptors: the listeners are out of the epoll set (a waiting connection would
  // wake the loop at once, again and again) until a client closes or this time comes.
  bool accept_paused_ = false;
  bool accept_failing_ = false;  // the last accept ran out of descriptors
  size_t closed_since_trim_ = 0;
  std::chrono::steady_clock::time_point last_trim_;
  std::chrono::steady_clock::time_point accept_paused_until_;
};

}  // namespace quarn
