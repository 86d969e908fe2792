#pragma once

#include <sys/types.h>

namespace quarn {

// What a child gives up between fork and exec, decided in the parent beforehand: a process
// that runs as root or holds CAP_SETUID/CAP_SETGID hands its child an unprivileged identity
// (its own user when it has one, `nobody` when it is root) with no supplementary group.
struct ChildConfinement {
  bool change_identity = false;
  uid_t uid = 0;
  gid_t gid = 0;

  // Reads this process's identity and capabilities; may look `nobody` up (not after fork).
  static ChildConfinement ForThisProcess();
};

// In the forked child only (raw system calls, nothing that allocates or locks): takes the
// identity, drops every capability (bounding set where allowed, then the permitted, effective,
// inheritable and ambient sets), sets no_new_privs and installs a seccomp filter that refuses
// sockets, tracing and the namespace, mount, key and BPF calls with EPERM. Returns 0 or the
// errno of the step that failed; the child must not run the program then.
int ConfineThisChild(const ChildConfinement& confinement);

}  // namespace quarn
