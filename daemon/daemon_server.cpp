#include "daemon/daemon_server.h"

#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "daemon/reply_text.h"
#include "daemon/systemd_link.h"
#include "platform/descriptor_passing.h"
#include "platform/path_names.h"
#include "platform/peer_credentials.h"
#include "platform/thread_file_identity.h"

namespace quarn {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint64_t kSignalKey = UINT64_MAX;
constexpr uint64_t kWakeupKey = UINT64_MAX - 1;
constexpr uint64_t kListenerKeyBase = UINT64_MAX - 1024;
// How long a refused stream's bytes are read and dropped before the connection closes.
constexpr auto kDrainTime = std::chrono::seconds(2);
// Work in flight at SIGTERM: told to end after this, and the daemon is gone by kStopLimit.
constexpr auto kCancelAfter = std::chrono::seconds(7);
constexpr auto kStopLimit = std::chrono::seconds(10);
constexpr auto kTick = std::chrono::milliseconds(200);
// Connections closed before their memory is given back to the system (see TrimMemory).
constexpr size_t kClosesBeforeTrim = 64;
// The largest stream the loop scans itself (see ScansAtOnce).
constexpr uint64_t kAtOnceBytes = 64 * 1024;

// The client as the log names it: its address and port, as the ClamAV daemon names a TCP
// client, or for the Unix socket the process and user the kernel says are at the other end.
std::string ClientLabel(const std::optional<PeerCredentials>& peer,
                        const sockaddr_storage& address) {
  if (peer) {
    return "local, pid " + std::to_string(peer->pid) + ", uid " + std::to_string(peer->uid);
  }
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET) {
    const auto& ip = reinterpret_cast<const sockaddr_in&>(address);
    inet_ntop(AF_INET, &ip.sin_addr, text, sizeof text);
    return std::string(text) + "@" + std::to_string(ntohs(ip.sin_port));
  }
  if (address.ss_family == AF_INET6) {
    const auto& ip = reinterpret_cast<const sockaddr_in6&>(address);
    inet_ntop(AF_INET6, &ip.sin6_addr, text, sizeof text);
    return std::string(text) + "@" + std::to_string(ntohs(ip.sin6_port));
  }
  return "local";
}

sigset_t DaemonSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal_number : {SIGTERM, SIGINT, SIGUSR2, SIGHUP}) sigaddset(&set, signal_number);
  return set;
}

}  // namespace

struct DaemonServer::Client {
  Client(uint64_t id, int descriptor, bool unix_socket, ConnectionLimits limits)
      : id(id), socket(descriptor), unix_socket(unix_socket), protocol(unix_socket, limits) {}

  uint64_t id;
  UniqueDescriptor socket;
  bool unix_socket;
  std::optional<PeerCredentials> peer;  // its groups once groups_read
  bool groups_read = false;
  std::string label;  // how the log names the client (Asker::client)
  ClientConnection protocol;
  std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);
  Clock::time_point idle_since = Clock::now();
  Clock::time_point stream_since = Clock::now();
  Clock::time_point drain_since;
  // Since when the socket has taken none of the output; unset while it takes it.
  std::optional<Clock::time_point> unsent_since;
  bool peer_closed = false;  // the client will send nothing more
  bool write_shut = false;   // the reply of a refused stream is out, and the end told
  bool watched = false;      // in the epoll set, for `events`
  uint32_t events = 0;
};

void BlockDaemonSignals() {
  const sigset_t set = DaemonSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

DaemonServer::DaemonServer(ServerSettings settings, DatabaseSlot& databases, DaemonLog& log)
    : settings_(std::move(settings)), databases_(databases), log_(log) {
  daemon_asker_.may_assume_identity = MayAssumeFileIdentities();
  daemon_asker_.daemon_uid = geteuid();
}

DaemonServer::~DaemonServer() {
  if (reload_thread_.joinable()) reload_thread_.join();
}

void DaemonServer::Watch(int descriptor, uint64_t key, uint32_t events, bool add) {
  epoll_event event{};
  event.events = events;
  event.data.u64 = key;
  epoll_ctl(epoll_.get(), add ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, descriptor, &event);
}

bool DaemonServer::SetUp() {
  epoll_ = UniqueDescriptor(epoll_create1(EPOLL_CLOEXEC));
  const sigset_t set = DaemonSignals();
  signals_ = UniqueDescriptor(signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC));
  wakeup_ = UniqueDescriptor(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (epoll_.get() < 0 || signals_.get() < 0 || wakeup_.get() < 0) {
    log_.Line(std::string("ERROR: cannot set up the event loop: ") + ErrnoText(errno));
    return false;
  }
  Watch(signals_.get(), kSignalKey, EPOLLIN, true);
  Watch(wakeup_.get(), kWakeupKey, EPOLLIN, true);
  for (size_t i = 0; i < settings_.listeners.size(); ++i) {
    Watch(settings_.listeners[i].descriptor.get(), kListenerKeyBase + i, EPOLLIN, true);
  }
  pool_ = std::make_unique<WorkerPool>(settings_.threads);
  if (pool_->threads() == 0) {
    log_.Line("ERROR: cannot start a scanning thread");
    return false;
  }
  if (pool_->threads() < settings_.threads) {
    log_.Line("WARNING: only " + std::to_string(pool_->threads()) + " of " +
              std::to_string(settings_.threads) + " scanning threads could be started");
  }
  return true;
}

int DaemonServer::Run() {
  if (!SetUp()) return 1;
  NotifyReady();
  std::vector<epoll_event> events(256);
  while (true) {
    const int count = epoll_wait(epoll_.get(), events.data(), static_cast<int>(events.size()),
                                 static_cast<int>(kTick.count()));
    if (count < 0 && errno != EINTR) {
      log_.Line(std::string("ERROR: epoll_wait: ") + ErrnoText(errno));
      break;
    }
    for (int i = 0; i < count; ++i) {
      const uint64_t key = events[i].data.u64;
      if (key == kSignalKey) {
        signalfd_siginfo info{};
        while (read(signals_.get(), &info, sizeof info) == sizeof info) {
          if (info.ssi_signo == SIGUSR2) {
            StartReload();
          } else if (info.ssi_signo == SIGTERM || info.ssi_signo == SIGINT) {
            BeginStopping();
          } else if (info.ssi_signo == SIGHUP) {
            log_.Reopen();  // logrotate moved the file away
          }
        }
      } else if (key == kWakeupKey) {
        uint64_t ignored = 0;
        [[maybe_unused]] const ssize_t got = read(wakeup_.get(), &ignored, sizeof ignored);
        TakeCompletions();
      } else if (key >= kListenerKeyBase) {
        if (!stopping_) Accept(key - kListenerKeyBase);
      } else {
        auto found = clients_.find(key);
        if (found == clients_.end()) continue;
        Client& client = *found->second;
        if (events[i].events & (EPOLLIN | EPOLLRDHUP)) ReadFrom(client);
        if (clients_.count(key) == 0) continue;
        if (events[i].events & (EPOLLERR | EPOLLHUP)) {
          Close(key);
          continue;
        }
        Settle(client);
      }
    }
    CheckDeadlines();
    if (stopping_) {
      const bool idle = jobs_in_pool_ == 0 && waiting_.empty() && clients_.empty();
      if (idle || Clock::now() - stop_started_ >= kStopLimit) break;
    }
  }
  while (!clients_.empty()) Close(clients_.begin()->first);
  for (const Listener& listener : settings_.listeners) {
    if (!listener.created_path.empty()) unlink(listener.created_path.c_str());
  }
  pool_.reset();  // the scans still running were told to end; their replies go nowhere
  log_.Line("Daemon stopped");
  return 0;
}

void DaemonServer::PauseAccepting() {
  accept_paused_until_ = Clock::now() + kTick;
  if (accept_paused_) return;
  accept_paused_ = true;
  for (const Listener& listener : settings_.listeners) {
    epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, listener.descriptor.get(), nullptr);
  }
}

void DaemonServer::ResumeAccepting() {
  if (!accept_paused_ || stopping_) return;
  accept_paused_ = false;
  for (size_t i = 0; i < settings_.listeners.size(); ++i) {
    Watch(settings_.listeners[i].descriptor.get(), kListenerKeyBase + i, EPOLLIN, true);
  }
}

void DaemonServer::Accept(size_t listener_index) {
  if (accept_paused_) return;  // an event read in the same batch as the pause
  const Listener& listener = settings_.listeners[listener_index];
  while (true) {
    sockaddr_storage address{};
    socklen_t address_size = sizeof address;
    const int descriptor = accept4(listener.descriptor.get(), reinterpret_cast<sockaddr*>(&address),
                                   &address_size, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (descriptor < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // Out of descriptors: the backlog keeps the clients until some close. Said once
        // until a connection is accepted again, not at every try.
        if (!accept_failing_) {
          log_.Line(std::string("WARNING: cannot accept a connection: ") + ErrnoText(errno));
        }
        accept_failing_ = true;
        PauseAccepting();
      }
      return;
    }
    accept_failing_ = false;
    const uint64_t id = ++next_client_id_;
    auto client =
        std::make_unique<Client>(id, descriptor, listener.unix_socket, settings_.connection);
    if (listener.unix_socket) {
      auto peer = ReadPeerCredentials(descriptor, /*with_groups=*/false);
      if (peer) client->peer = std::move(*peer);
    }
    client->label = ClientLabel(client->peer, address);
    client->events = EPOLLIN | EPOLLRDHUP;
    client->watched = true;
    Watch(descriptor, id, client->events, true);
    clients_.emplace(id, std::move(client));
  }
}

void DaemonServer::ReadFrom(Client& client) {
  if (client.peer_closed) return;
  std::vector<uint8_t>& buffer = read_buffer_;
  size_t length = 0;
  std::vector<UniqueDescriptor> descriptors;
  if (client.unix_socket) {
    auto received = ReceiveWithDescriptors(client.socket.get(), buffer.data(), buffer.size());
    if (!received) {
      Close(client.id);
      return;
    }
    if (received->would_block) return;
    if (received->control_truncated) {
      // Descriptors were lost on the way: nothing that arrived with them can be trusted.
      client.protocol.EndWithError("Control message truncated. ERROR");
      client.peer_closed = true;
      return;
    }
    length = received->length;
    descriptors = std::move(received->descriptors);
  } else {
    const ssize_t got = recv(client.socket.get(), buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (got < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
      Close(client.id);
      return;
    }
    length = static_cast<size_t>(got);
  }
  if (length == 0 && descriptors.empty()) {
    client.peer_closed = true;
    return;
  }
  const bool was_streaming = client.protocol.ReceivingStream();
  client.protocol.Receive({buffer.data(), length}, std::move(descriptors));
  if (!was_streaming && client.protocol.ReceivingStream()) client.stream_since = Clock::now();
  if (client.protocol.Draining() && client.drain_since == Clock::time_point()) {
    client.drain_since = Clock::now();
  }
  Dispatch(client);
}

void DaemonServer::Dispatch(Client& client) {
  // A reply given here at once frees a place among the outstanding ones, and the connection
  // then takes the next command it holds: taken again until none is left, or a session that
  // sent more such commands than places in one read would wait for ever.
  while (true) {
    std::vector<ClientRequest> requests = client.protocol.TakeRequests();
    if (requests.empty()) return;
    client.idle_since = Clock::now();
    for (ClientRequest& request : requests) Answer(client, std::move(request));
  }
}

bool DaemonServer::MayControl(const Client& client) const {
  return client.peer && (client.peer->uid == 0 || client.peer->uid == daemon_asker_.daemon_uid);
}

void DaemonServer::Answer(Client& client, ClientRequest request) {
  auto reply = [&](std::string_view body) {
    client.protocol.Deliver(FramedReply(body, request.framing, request.session_id));
  };
  switch (request.command.kind) {
    case CommandKind::kPing:
      reply(RowOf(CommandKind::kPing).reply);
      return;
    case CommandKind::kVersion:
      reply(VersionText(settings_.program_version, databases_.Current()->version));
      return;
    case CommandKind::kVersionCommands:
      reply(VersionText(settings_.program_version, databases_.Current()->version) +
            "| COMMANDS: " + SupportedCommandNames(client.unix_socket));
      return;
    case CommandKind::kStats:
      reply(StatsText());
      return;
    case CommandKind::kReload:
      if (!MayControl(client)) {
        reply(kCommandUnavailable);
        return;
      }
      StartReload();
      reply(RowOf(CommandKind::kReload).reply);
      return;
    case CommandKind::kShutdown:
      if (!settings_.enable_shutdown_command || !MayControl(client)) {
        reply(kCommandUnavailable);
        return;
      }
      log_.Line("SHUTDOWN command received");
      client.protocol.Deliver("");
      BeginStopping();
      return;
    default:
      if (ScansAtOnce(request)) {
        Asker asker = daemon_asker_;
        asker.client = client.label;
        client.protocol.Deliver(AnswerScanRequest(request, *databases_.Current(), settings_.scan,
                                                  asker, client.cancelled.get(), log_));
        return;
      }
      Submit(client, std::move(request));
      return;
  }
}

// A small stream or passed file that is no container costs less to scan than to hand to a
// worker and back (two thread wake-ups), and too little to hold up the loop: it is answered
// here. A passed file is taken only when all of it can be read at once without waiting (a
// client's file on a file system it serves itself could hold the loop for ever); its bytes
// then go with the request, wherever it is scanned. Inside a session, where clients send
// their files ahead of the replies (clamdscan --fdpass -m), reading a file costs the loop
// more than receiving it, and the workers read and scan them side by side instead.
bool DaemonServer::ScansAtOnce(ClientRequest& request) const {
  if (request.command.kind == CommandKind::kFildes) {
    if (request.session_id) return false;
    auto bytes = ReadCachedWholeFile(request.descriptor->get(), kAtOnceBytes);
    if (!bytes) return false;
    request.stream = std::make_shared<EntrySpool>(std::move(*bytes));
  } else if (request.command.kind != CommandKind::kInstream) {
    return false;
  }
  const std::optional<std::span<const uint8_t>> bytes = request.stream->Held();
  if (!bytes || bytes->size() > kAtOnceBytes) return false;
  // All of it is at hand: what only the tail or a look inside rules out counts too.
  const HeldEnds held{*bytes, *bytes, bytes->size(), *bytes, 0};
  return !containers_.MayOpenHeld(held);
}

void DaemonServer::Submit(Client& client, ClientRequest request) {
  waiting_.push_back({client.id, std::make_shared<ClientRequest>(std::move(request))});
  StartJobs();
}

void DaemonServer::StartJobs() {
  size_t started = 0;
  while (started < waiting_.size() && jobs_in_pool_ < settings_.max_queue + pool_->threads()) {
    WaitingJob job = std::move(waiting_[started++]);
    auto found = clients_.find(job.client);
    if (found == clients_.end()) continue;  // the client is gone: its work is not done
    Client& client = *found->second;
    // The groups matter only to a path command, which takes the peer's identity: read once,
    // when the first one comes. A peer whose groups cannot be read is served as no local one.
    const CommandKind kind = job.request->command.kind;
    if (kind != CommandKind::kInstream && kind != CommandKind::kFildes && client.peer &&
        !client.groups_read) {
      auto groups = ReadPeerGroups(client.socket.get());
      if (groups) {
        client.peer->groups = std::move(*groups);
      } else {
        client.peer.reset();
      }
      client.groups_read = true;
    }
    Asker asker = daemon_asker_;
    asker.peer = client.peer;
    asker.client = client.label;
    ++jobs_in_pool_;
    pool_->Submit([this, job, asker, cancelled = client.cancelled] {
      std::string reply;
      if (!cancelled->load()) {
        const std::shared_ptr<const DatabaseSet> databases = databases_.Current();
        reply = AnswerScanRequest(*job.request, *databases, settings_.scan, asker, cancelled.get(),
                                  log_);
      }
      {
        std::lock_guard lock(completions_mutex_);
        completions_.push_back({job.client, std::move(reply)});
      }
      const uint64_t one = 1;
      [[maybe_unused]] const ssize_t put = write(wakeup_.get(), &one, sizeof one);
    });
  }
  waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<ptrdiff_t>(started));
}

void DaemonServer::TakeCompletions() {
  std::vector<Completion> done;
  {
    std::lock_guard lock(completions_mutex_);
    done.swap(completions_);
  }
  jobs_in_pool_ -= std::min(jobs_in_pool_, done.size());
  // The replies a session's scans finished together go out in one write, in the order they
  // would have gone one by one: each is queued, and each client settled once after all.
  std::vector<uint64_t> touched;
  for (Completion& completion : done) {
    auto found = clients_.find(completion.client);
    if (found == clients_.end()) continue;
    Client& client = *found->second;
    client.protocol.Deliver(std::move(completion.reply));
    client.idle_since = Clock::now();
    Dispatch(client);
    if (std::find(touched.begin(), touched.end(), client.id) == touched.end()) {
      touched.push_back(client.id);
    }
  }
  for (uint64_t id : touched) {
    auto found = clients_.find(id);
    if (found != clients_.end()) Settle(*found->second);
  }
  StartJobs();
}

void DaemonServer::Flush(Client& client) {
  while (!client.protocol.output().empty()) {
    const std::string& output = client.protocol.output();
    const ssize_t sent =
        send(client.socket.get(), output.data(), output.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        if (!client.unsent_since) client.unsent_since = Clock::now();
        return;
      }
      client.cancelled->store(true);
      client.protocol.Abandon();  // nothing more it sent is answered
      client.protocol.Sent(output.size());
      client.peer_closed = true;
      return;
    }
    client.unsent_since.reset();
    client.protocol.Sent(static_cast<size_t>(sent));
  }
}

// After anything happened to a client: writes what can be written, closes what is done and
// watches the socket for what the client's state now waits for.
void DaemonServer::Settle(Client& client) {
  Flush(client);
  while (client.protocol.HasRequests()) {
    Dispatch(client);
    Flush(client);
  }
  if (client.protocol.Draining() && client.protocol.output().empty() && !client.write_shut) {
    // The client sees the error and the end at once, while what it still sends is dropped.
    shutdown(client.socket.get(), SHUT_WR);
    client.write_shut = true;
  }
  const bool nothing_more =
      client.peer_closed && client.protocol.outstanding() == 0 && client.protocol.output().empty();
  if (client.protocol.ReadyToClose() && !client.protocol.Draining()) {
    Close(client.id);
    return;
  }
  if (nothing_more) {
    Close(client.id);
    return;
  }
  // Once the client has closed its side, the socket stays readable for ever: no longer asked.
  uint32_t events = client.peer_closed ? 0u : uint32_t{EPOLLRDHUP};
  if (!client.peer_closed && client.protocol.WantsBytes()) events |= EPOLLIN;
  if (!client.protocol.output().empty()) events |= EPOLLOUT;
  if (!client.watched || events != client.events) {
    Watch(client.socket.get(), client.id, events, !client.watched);
    client.events = events;
    client.watched = true;
  }
}

void DaemonServer::Close(uint64_t id) {
  auto found = clients_.find(id);
  if (found == clients_.end()) return;
  found->second->cancelled->store(true);
  // Closing the socket takes it out of the epoll set as well; an event still on its way names
  // a client that is gone, and is skipped.
  clients_.erase(found);
  ++closed_since_trim_;
  ResumeAccepting();  // a descriptor is free for a waiting client
}

// The buffers of many clients come from the heap between longer-lived blocks, so once they
// are freed the allocator keeps most of their pages: a burst of clients would leave the
// daemon as large as at its peak. Given back once a burst has gone, at most once a tick.
void DaemonServer::TrimMemory(Clock::time_point now) {
  if (closed_since_trim_ < kClosesBeforeTrim || now - last_trim_ < kTick) return;
  closed_since_trim_ = 0;
  last_trim_ = now;
  malloc_trim(0);
}

void DaemonServer::CheckDeadlines() {
  const Clock::time_point now = Clock::now();
  if (accept_paused_ && now >= accept_paused_until_) ResumeAccepting();
  TrimMemory(now);
  std::vector<uint64_t> to_settle;
  std::vector<uint64_t> to_close;
  for (auto& [id, client] : clients_) {
    ClientConnection& protocol = client->protocol;
    // A client that reads none of its replies is not kept: what it is owed would stay in
    // memory for as long as it cares to hold the connection.
    if (client->unsent_since && now - *client->unsent_since >= settings_.send_buf_timeout) {
      to_close.push_back(id);
      continue;
    }
    if (protocol.Draining()) {
      if (now - client->drain_since >= kDrainTime) to_settle.push_back(id);
      continue;
    }
    if (protocol.outstanding() > 0 || !protocol.output().empty()) {
      client->idle_since = now;
      continue;
    }
    if (protocol.ReceivingStream()) {
      if (now - client->stream_since >= settings_.read_timeout) {
        protocol.TimedOut();
        to_settle.push_back(id);
      }
    } else if (protocol.AwaitingCommand() &&
               (now - client->idle_since >= settings_.command_read_timeout || stopping_)) {
      if (stopping_) {
        protocol.Abandon();
      } else {
        protocol.TimedOut();
      }
      to_settle.push_back(id);
    }
  }
  for (uint64_t id : to_close) Close(id);
  for (uint64_t id : to_settle) {
    auto found = clients_.find(id);
    if (found == clients_.end()) continue;
    if (found->second->protocol.Draining()) {
      Close(id);
    } else {
      Settle(*found->second);
    }
  }
  if (stopping_ && now - stop_started_ >= kCancelAfter) {
    for (auto& [id, client] : clients_) client->cancelled->store(true);
  }
}

void DaemonServer::StartReload() {
  if (reloading_.exchange(true)) return;  // a reload under way covers this one too
  NotifyReloading();
  log_.Line("Reading databases from " + settings_.database_folder);
  if (reload_thread_.joinable()) reload_thread_.join();
  reload_thread_ = std::thread([this] {
    auto loaded = LoadDatabaseSet(settings_.database_folder);
    if (loaded) {
      databases_.Replace(std::move(*loaded));
      log_.Line("Database correctly reloaded");
    } else {
      log_.Line("ERROR: reload failed, the databases in use stay: " + loaded.message());
    }
    NotifyReady();
    reloading_.store(false);
  });
}

void DaemonServer::BeginStopping() {
  if (stopping_) return;
  stopping_ = true;
  stop_started_ = Clock::now();
  NotifyStopping();
  log_.Line("Stopping: no new connections");
  for (Listener& listener : settings_.listeners) {
    epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, listener.descriptor.get(), nullptr);
    listener.descriptor.Close();
    if (!listener.created_path.empty()) {
      unlink(listener.created_path.c_str());
      listener.created_path.clear();
    }
  }
}

std::string DaemonServer::StatsText() const {
  const size_t threads = pool_->threads();
  const size_t busy = pool_->busy();
  return "POOLS: 1\n\nSTATE: VALID PRIMARY\nTHREADS: live " + std::to_string(busy) + "  idle " +
         std::to_string(threads - std::min(threads, busy)) + " max " + std::to_string(threads) +
         " idle-timeout 30\nQUEUE: " + std::to_string(pool_->queued() + waiting_.size()) +
         " items\n\nMEMSTATS: heap N/A mmap N/A used N/A free N/A releasable N/A pools 1 "
         "pools_used N/A pools_total N/A\nEND";
}

}  // namespace quarn
