#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/status.h"

namespace quarn {

// Bytes handed to a child process as an open descriptor rather than by a name: the child
// reads them from "/dev/fd/3". Held in an unnamed temporary file, made once and shared by
// every child started on it, readable by the child whatever identity made the copy.
class ChildInput {
 public:
  // Copies `file` from its start, at most `limit` bytes (a longer file fails).
  static Result<std::shared_ptr<ChildInput>> CopyOf(File& file, uint64_t limit);
  ~ChildInput();
  ChildInput(const ChildInput&) = delete;
  ChildInput& operator=(const ChildInput&) = delete;

  // What the child is given to name the bytes.
  static constexpr const char* kPath = "/dev/fd/3";

 private:
  explicit ChildInput(int descriptor) : descriptor_(descriptor) {}
  friend class ChildProcess;
  int descriptor_;
};

// What a child may take before it is stopped.
struct ChildLimits {
  std::chrono::milliseconds time{30000};        // then its whole process group is killed
  uint64_t memory_bytes = uint64_t{512} << 20;  // address space
  uint64_t cpu_seconds = 30;
  uint64_t output_bytes = uint64_t{256} << 20;  // read from its standard output
};

// A program run for its standard output, as little trusted as the bytes it reads: started
// without a shell, an empty environment, standard input and error on /dev/null, no
// descriptor of ours but the input as descriptor 3, in a process group of its own, confined
// before it runs (platform/child_confinement.h: no capability, no_new_privs, no socket, an
// unprivileged identity under a privileged parent), with the limits set on it (through
// prlimit, which then executes it), and killed with its group at the time limit, at the
// output limit, or when the object goes. A child that cannot be confined is not started.
class ChildProcess {
 public:
  // `program` and `prlimit` are absolute paths; `arguments` follow the program's name.
  static Result<std::unique_ptr<ChildProcess>> Start(const std::string& program,
                                                     const std::vector<std::string>& arguments,
                                                     const std::shared_ptr<ChildInput>& input,
                                                     const ChildLimits& limits);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Up to `length` bytes of its output; 0 at its end. Fails when the time or output limit is
  // passed (the child is then killed) or the pipe fails.
  Result<size_t> Read(void* buffer, size_t length);
  // Reads the rest of its output into `out`, within the limits.
  Status ReadAll(std::string& out);
  // Waits for it to end (killed at the time limit) and gives its exit status; a child ended
  // by a signal gives 128 + the signal.
  int Wait();

  // The program every child is started through, and whether it and `program` are there.
  static constexpr const char* kPrlimit = "/usr/bin/prlimit";
  static bool CanRun(const std::string& program);

 private:
  ChildProcess(int pid, int output, std::chrono::steady_clock::time_point deadline,
               uint64_t output_limit)
      : pid_(pid), output_(output), deadline_(deadline), output_limit_(output_limit) {}
  void Kill();

  int pid_;
  int output_;
  std::chrono::steady_clock::time_point deadline_;
  uint64_t output_limit_;
  uint64_t output_read_ = 0;
  bool reaped_ = false;
  int status_ = -1;
};

}  // namespace quarn
