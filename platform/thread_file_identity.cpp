#include "platform/thread_file_identity.h"

#include <linux/capability.h>
#include <sys/fsuid.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>

#include "platform/path_names.h"

namespace quarn {
namespace {

// The calling thread's effective capability set, or nothing when it cannot be read.
uint64_t EffectiveCapabilities() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) return 0;
  return uint64_t{data[0].effective} | (uint64_t{data[1].effective} << 32);
}

constexpr uint64_t kOverriding =
    (uint64_t{1} << CAP_DAC_OVERRIDE) | (uint64_t{1} << CAP_DAC_READ_SEARCH);

// Sets the calling thread's effective capabilities (a subset of its permitted ones).
bool SetEffectiveCapabilities(uint64_t effective) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  data[0].effective = static_cast<uint32_t>(effective);
  data[1].effective = static_cast<uint32_t>(effective >> 32);
  return syscall(SYS_capset, &header, data) == 0;
}

bool Holds(uint64_t capabilities, int capability) {
  return (capabilities >> capability) & 1;
}

// setfsuid and setfsgid answer with the value before the call, never with an error; an
// invalid id changes nothing, so it reads the current one.
uid_t CurrentFsuid() {
  return static_cast<uid_t>(setfsuid(static_cast<uid_t>(-1)));
}
gid_t CurrentFsgid() {
  return static_cast<gid_t>(setfsgid(static_cast<gid_t>(-1)));
}

// A second call with the same id answers with the id now in force.
bool TakeFsuid(uid_t uid) {
  setfsuid(uid);
  return static_cast<uid_t>(setfsuid(uid)) == uid;
}
bool TakeFsgid(gid_t gid) {
  setfsgid(gid);
  return static_cast<gid_t>(setfsgid(gid)) == gid;
}

// The C library's setgroups() changes every thread of the process; the system call itself
// changes only the caller. Where gid_t once had 16 bits, the 32-bit call has its own number.
int SetThreadGroups(const std::vector<gid_t>& groups) {
#ifdef SYS_setgroups32
  return static_cast<int>(syscall(SYS_setgroups32, groups.size(), groups.data()));
#else
  return static_cast<int>(syscall(SYS_setgroups, groups.size(), groups.data()));
#endif
}

// getgroups reads the calling thread's own credentials.
Result<std::vector<gid_t>> ThreadGroups() {
  const int count = getgroups(0, nullptr);
  if (count < 0) return Status::Error("cannot read the thread's groups: " + ErrnoText(errno));
  std::vector<gid_t> groups(static_cast<size_t>(count));
  const int read = getgroups(count, groups.data());
  if (read < 0) return Status::Error("cannot read the thread's groups: " + ErrnoText(errno));
  groups.resize(static_cast<size_t>(read));
  return groups;
}

std::string Whose(const PeerCredentials& peer) {
  return "uid " + std::to_string(peer.uid) + " gid " + std::to_string(peer.gid);
}

}  // namespace

bool MayAssumeFileIdentities() {
  const uint64_t effective = EffectiveCapabilities();
  return Holds(effective, CAP_SETUID) && Holds(effective, CAP_SETGID);
}

Result<ThreadFileIdentity> ThreadFileIdentity::Assume(const PeerCredentials& peer) {
  Result<std::vector<gid_t>> previous_groups = ThreadGroups();
  if (!previous_groups) return previous_groups.status();
  // Made now, so that every failure below puts back what was changed on its way out.
  ThreadFileIdentity identity(static_cast<pid_t>(gettid()), CurrentFsuid(), CurrentFsgid(),
                              std::move(*previous_groups));

  const std::vector<gid_t> groups(peer.groups.begin(), peer.groups.end());
  if (SetThreadGroups(groups) != 0) {
    const int error = errno;
    identity.active_ = false;  // nothing was changed
    return Status::Error("cannot take the groups of " + Whose(peer) + ": " + ErrnoText(error));
  }
  if (!TakeFsgid(peer.gid) || !TakeFsuid(peer.uid)) {
    return Status::Error("cannot take the file-system identity of " + Whose(peer));
  }
  // Only an fsuid leaving 0 drops the permission-overriding capabilities; a server that
  // holds them otherwise would read what the peer may not.
  const uint64_t effective = EffectiveCapabilities();
  if (peer.uid != 0 &&
      (Holds(effective, CAP_DAC_OVERRIDE) || Holds(effective, CAP_DAC_READ_SEARCH))) {
    return Status::Error("cannot take the file-system identity of " + Whose(peer) +
                         ": the server overrides file permissions");
  }
  // An fsuid of 0 keeps the server's overriding capabilities: a root peer without them (a
  // sandboxed root) gets its mode bits only, the thread lowering them while it acts for it.
  if (peer.uid == 0 && (effective & kOverriding) != 0 && !PeerOverridesPermissions(peer.pid)) {
    if (!SetEffectiveCapabilities(effective & ~kOverriding)) {
      return Status::Error("cannot take the file-system identity of " + Whose(peer) +
                           ": the server cannot lower its capabilities");
    }
    identity.lowered_ = effective & kOverriding;
  }
  return identity;
}

ThreadFileIdentity::ThreadFileIdentity(ThreadFileIdentity&& other) noexcept
    : active_(std::exchange(other.active_, false)),
      thread_(other.thread_),
      uid_(other.uid_),
      gid_(other.gid_),
      groups_(std::move(other.groups_)),
      lowered_(other.lowered_) {}

ThreadFileIdentity& ThreadFileIdentity::operator=(ThreadFileIdentity&& other) noexcept {
  if (this != &other) {
    RestoreOrAbort();
    active_ = std::exchange(other.active_, false);
    thread_ = other.thread_;
    uid_ = other.uid_;
    gid_ = other.gid_;
    groups_ = std::move(other.groups_);
    lowered_ = other.lowered_;
  }
  return *this;
}

ThreadFileIdentity::~ThreadFileIdentity() {
  RestoreOrAbort();
}

Status ThreadFileIdentity::Restore() {
  if (!active_) return Status::Ok();
  if (static_cast<pid_t>(gettid()) != thread_) {
    return Status::Error("a thread's file-system identity is restored on another thread");
  }
  // The uid first: back at 0 it also brings back the capabilities it had dropped.
  const bool uid_back = TakeFsuid(uid_);
  const bool gid_back = TakeFsgid(gid_);
  const bool groups_back = SetThreadGroups(groups_) == 0;
  const bool capabilities_back =
      lowered_ == 0 || SetEffectiveCapabilities(EffectiveCapabilities() | lowered_);
  if (!uid_back || !gid_back || !groups_back || !capabilities_back) {
    return Status::Error("cannot restore the thread's file-system identity");
  }
  active_ = false;
  lowered_ = 0;
  return Status::Ok();
}

void ThreadFileIdentity::RestoreOrAbort() {
  if (!Restore().ok()) std::abort();
}

}  // namespace quarn
