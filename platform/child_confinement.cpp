#include "platform/child_confinement.h"

#include <linux/audit.h>
#include <linux/capability.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <iterator>

namespace quarn {
namespace {

#if defined(__x86_64__)
constexpr uint32_t kArchitecture = AUDIT_ARCH_X86_64;
// x32 calls share the architecture number with their own bit set: none is let through.
constexpr uint32_t kForeignCallBit = 0x40000000;
#elif defined(__aarch64__)
constexpr uint32_t kArchitecture = AUDIT_ARCH_AARCH64;
constexpr uint32_t kForeignCallBit = 0;
#else
#error "the extractor's seccomp filter knows no system call table for this architecture"
#endif

constexpr uid_t kNobody = 65534;

// An extractor reads and writes what it was handed and nothing else: a socket would reach the
// network or a local service, the rest would reach other processes or the kernel.
// The leak checker of a build with AddressSanitizer stops the world with ptrace at exit; the
// tests run that build's own programs through here, so there the call stays open.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUARN_CHILD_MAY_TRACE 1
#endif
#elif defined(__SANITIZE_ADDRESS__)
#define QUARN_CHILD_MAY_TRACE 1
#endif

constexpr long kRefusedCalls[] = {
    __NR_socket,
#ifndef QUARN_CHILD_MAY_TRACE
    __NR_ptrace,
#endif
    __NR_process_vm_readv, __NR_process_vm_writev, __NR_bpf,   __NR_keyctl, __NR_add_key,
    __NR_request_key,      __NR_unshare,           __NR_setns, __NR_mount,  __NR_perf_event_open,
    __NR_userfaultfd,      __NR_io_uring_setup,
};
constexpr size_t kRefused = std::size(kRefusedCalls);

// [0, 4): the architecture; [4, 6): the foreign-call check; one pair per refused call; allow.
constexpr size_t kFilterLength = 6 + 2 * kRefused + 1;

struct SeccompFilter {
  sock_filter code[kFilterLength];
};

constexpr SeccompFilter MakeFilter() {
  SeccompFilter filter{};
  size_t at = 0;
  filter.code[at++] = BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch));
  filter.code[at++] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArchitecture, 1, 0);
  filter.code[at++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS);
  filter.code[at++] = BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr));
  if (kForeignCallBit != 0) {
    filter.code[at++] = BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, kForeignCallBit, 0, 1);
  } else {
    filter.code[at++] = BPF_JUMP(BPF_JMP | BPF_JA, 1, 0, 0);
  }
  filter.code[at++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS);
  for (const long call : kRefusedCalls) {
    filter.code[at++] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<uint32_t>(call), 0, 1);
    filter.code[at++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EPERM & SECCOMP_RET_DATA));
  }
  filter.code[at++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
  return filter;
}

// Built at compile time: nothing is allocated between fork and exec.
constexpr SeccompFilter kFilter = MakeFilter();

bool HoldsIdentityCapability() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  const uint32_t identity = (1u << CAP_SETUID) | (1u << CAP_SETGID);
  return (data[0].effective & identity) != 0 || (data[0].permitted & identity) != 0;
}

int Failed() {
  return errno != 0 ? errno : EPERM;
}

}  // namespace

ChildConfinement ChildConfinement::ForThisProcess() {
  ChildConfinement confinement;
  const uid_t own = geteuid();
  if (own != 0 && !HoldsIdentityCapability()) return confinement;
  confinement.change_identity = true;
  confinement.uid = own;
  confinement.gid = getegid();
  if (own == 0) {
    confinement.uid = kNobody;
    confinement.gid = kNobody;
    passwd entry{};
    passwd* found = nullptr;
    char buffer[1024];
    if (getpwnam_r("nobody", &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_uid != 0) {
      confinement.uid = found->pw_uid;
      confinement.gid = found->pw_gid != 0 ? found->pw_gid : kNobody;
    }
  }
  return confinement;
}

int ConfineThisChild(const ChildConfinement& confinement) {
  errno = 0;
  // The bounding set first: dropping from it takes CAP_SETPCAP, which goes with the identity.
  // A process without CAP_SETPCAP cannot drop it, nor gain anything from it under no_new_privs.
  for (int capability = 0; capability <= CAP_LAST_CAP; ++capability) {
    if (prctl(PR_CAPBSET_DROP, capability, 0, 0, 0) != 0 && errno != EPERM && errno != EINVAL) {
      return Failed();
    }
  }
  // Raw calls: this process has one thread, and glibc's wrappers would signal the parent's.
  if (confinement.change_identity) {
    if (syscall(SYS_setgroups, 0, nullptr) != 0) return Failed();
    if (syscall(SYS_setresgid, confinement.gid, confinement.gid, confinement.gid) != 0) {
      return Failed();
    }
    if (syscall(SYS_setresuid, confinement.uid, confinement.uid, confinement.uid) != 0) {
      return Failed();
    }
  }
  if (prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0) != 0 && errno != EINVAL) {
    return Failed();
  }
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capset, &header, none) != 0) return Failed();
  if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return Failed();
  sock_fprog program{static_cast<unsigned short>(kFilterLength),
                     const_cast<sock_filter*>(kFilter.code)};
  if (prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program, 0, 0) != 0) return Failed();
  return 0;
}

}  // namespace quarn
