#pragma once

#include <sys/types.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "platform/peer_credentials.h"
#include "platform/status.h"

namespace quarn {

// True when this thread may take another user's file-system identity: it holds CAP_SETUID
// and CAP_SETGID in its effective set. Without them a server can only act for peers of its
// own uid.
bool MayAssumeFileIdentities();

// While it lives, the thread that made it opens files, walks folders and is refused exactly
// as `peer` would be: its fsuid, fsgid and supplementary groups are the peer's. Only that
// thread changes; the other threads of the process keep their own. Its uid, euid and the
// identity signals and ownership of new processes follow are untouched.
//
// It must be destroyed (or restored) on the thread that assumed it. Should the thread's
// earlier identity not come back, the process is aborted: a worker that went on with one
// client's rights would serve the next client with them.
class ThreadFileIdentity {
 public:
  // Takes the peer's groups, gid and uid, in that order. Fails, having put back whatever it
  // had changed, when one of them is not taken (the kernel refuses silently without the
  // capabilities, so every change is read back), or when the thread would keep a capability
  // that overrides file permissions (a non-root server given CAP_DAC_OVERRIDE or
  // CAP_DAC_READ_SEARCH), since then the kernel would not decide as it does for the peer.
  // A peer of uid 0 without those two in its effective set (PeerOverridesPermissions, read
  // now) has them lowered from the thread's effective set until the identity is restored.
  static Result<ThreadFileIdentity> Assume(const PeerCredentials& peer);

  ThreadFileIdentity(ThreadFileIdentity&& other) noexcept;
  ThreadFileIdentity& operator=(ThreadFileIdentity&& other) noexcept;
  ThreadFileIdentity(const ThreadFileIdentity&) = delete;
  ThreadFileIdentity& operator=(const ThreadFileIdentity&) = delete;
  ~ThreadFileIdentity();

  // Gives the thread back its earlier fsuid, fsgid and groups now, for a caller that wants
  // to see the failure; afterwards the object holds nothing. Fails on another thread.
  Status Restore();

 private:
  ThreadFileIdentity(pid_t thread, uid_t uid, gid_t gid, std::vector<gid_t> groups)
      : active_(true), thread_(thread), uid_(uid), gid_(gid), groups_(std::move(groups)) {}
  void RestoreOrAbort();

  bool active_ = false;
  pid_t thread_ = 0;  // the one thread whose identity is held
  uid_t uid_ = 0;     // what that thread had before
  gid_t gid_ = 0;
  std::vector<gid_t> groups_;
  uint64_t lowered_ = 0;  // effective capabilities lowered for a root peer without them
};

}  // namespace quarn
