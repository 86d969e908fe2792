#include "platform/child_process.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "platform/child_confinement.h"
#include "platform/descriptor_output.h"
#include "platform/path_names.h"
#include "platform/unique_descriptor.h"
#include "platform/unnamed_file.h"

namespace quarn {
namespace {

constexpr int kInputDescriptor = 3;
constexpr size_t kCopyBlock = 64 * 1024;

// Gives `from` to the child as `to`, open across exec.
bool HandOn(int from, int to) {
  if (from == to) return fcntl(to, F_SETFD, 0) == 0;
  return dup2(from, to) == to;
}

// The child's side between fork and exec: nothing here allocates or takes a lock. On failure
// the errno goes to the parent through `report`, which exec closes.
[[noreturn]] void RunChild(const char* prlimit, char* const argv[], int output, int input,
                           int report, const ChildConfinement& confinement) {
  sigset_t none;
  sigemptyset(&none);
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    signal(signal_number, SIG_DFL);
  }
  sigprocmask(SIG_SETMASK, &none, nullptr);
  int failure = 0;
  const int null_device = open("/dev/null", O_RDWR | O_CLOEXEC);
  // In the root folder: nothing it might write by a relative name lands beside our files.
  if (setpgid(0, 0) != 0 || chdir("/") != 0 || null_device < 0 || !HandOn(null_device, 0) ||
      !HandOn(output, 1) || !HandOn(null_device, 2) ||
      (input >= 0 && !HandOn(input, kInputDescriptor)) ||
      close_range(input >= 0 ? kInputDescriptor + 1 : kInputDescriptor, ~0U, CLOSE_RANGE_CLOEXEC) !=
          0) {
    failure = errno;
  }
  if (failure == 0) failure = ConfineThisChild(confinement);
  char* environment[] = {nullptr};
  if (failure == 0) {
    execve(prlimit, argv, environment);
    failure = errno;
  }
  (void)!write(report, &failure, sizeof failure);
  _exit(127);
}

}  // namespace

Result<std::shared_ptr<ChildInput>> ChildInput::CopyOf(File& file, uint64_t limit) {
  Result<int> created = CreateUnnamedDescriptor();
  if (!created) return created.status();
  // Above the descriptors a child is given, so handing it on is never a copy onto itself.
  UniqueDescriptor descriptor(fcntl(*created, F_DUPFD_CLOEXEC, 10));
  close(*created);
  if (descriptor.get() < 0) {
    return Status::Error("cannot keep the archive's copy: " + ErrnoText(errno));
  }
  // The child reopens its descriptor 3 under its own identity, not the one that made the
  // copy (a daemon's client): no name reaches the copy, so reading it is the child's alone.
  if (fchmod(descriptor.get(), 0444) != 0) {
    return Status::Error("cannot hand the archive's copy on: " + ErrnoText(errno));
  }
  if (file.Seek(0, SeekOrigin::kBegin) != 0u) {
    return Status::Error("cannot read the archive from its start");
  }
  std::vector<uint8_t> block(kCopyBlock);
  uint64_t copied = 0;
  while (true) {
    const uint32_t got = file.Read(block.data(), static_cast<uint32_t>(block.size()));
    if (got == 0) break;
    copied += got;
    if (copied > limit) return Status::Error("the archive is larger than an extractor is given");
    const Status written = WriteToDescriptor(
        descriptor.get(), std::string_view(reinterpret_cast<const char*>(block.data()), got),
        "the archive's copy for an extractor");
    if (!written) return written;
  }
  return std::shared_ptr<ChildInput>(new ChildInput(descriptor.release()));
}

ChildInput::~ChildInput() {
  close(descriptor_);
}

bool ChildProcess::CanRun(const std::string& program) {
  return access(kPrlimit, X_OK) == 0 && access(program.c_str(), X_OK) == 0;
}

Result<std::unique_ptr<ChildProcess>> ChildProcess::Start(const std::string& program,
                                                          const std::vector<std::string>& arguments,
                                                          const std::shared_ptr<ChildInput>& input,
                                                          const ChildLimits& limits) {
  int pipe_ends[2];
  if (pipe2(pipe_ends, O_CLOEXEC) != 0) {
    return Status::Error("cannot make a pipe for " + program + ": " + ErrnoText(errno));
  }
  UniqueDescriptor read_end(pipe_ends[0]);
  UniqueDescriptor write_end(pipe_ends[1]);

  // prlimit sets the limits on itself and then becomes the program: they hold from its
  // first instruction on. It writes no file (fsize 0) and leaves no core.
  std::vector<std::string> words = {kPrlimit,
                                    "--as=" + std::to_string(limits.memory_bytes),
                                    "--cpu=" + std::to_string(limits.cpu_seconds),
                                    "--fsize=0",
                                    "--core=0",
                                    "--",
                                    program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const ChildConfinement confinement = ChildConfinement::ForThisProcess();
  int report_ends[2];
  if (pipe2(report_ends, O_CLOEXEC) != 0) {
    return Status::Error("cannot make a pipe for " + program + ": " + ErrnoText(errno));
  }
  UniqueDescriptor report_read(report_ends[0]);
  UniqueDescriptor report_write(report_ends[1]);
  // fork rather than posix_spawn: the identity, capabilities and filter are changed in the
  // child, before the program's first instruction.
  const pid_t pid = fork();
  if (pid < 0) return Status::Error("cannot start " + program + ": " + ErrnoText(errno));
  if (pid == 0) {
    RunChild(kPrlimit, argv.data(), write_end.get(), input ? input->descriptor_ : -1,
             report_write.get(), confinement);
  }
  report_write.Close();
  int failure = 0;
  ssize_t got;
  do {
    got = read(report_read.get(), &failure, sizeof failure);
  } while (got < 0 && errno == EINTR);
  if (got > 0) {
    waitpid(pid, nullptr, 0);
    return Status::Error("cannot start " + program + " confined: " + ErrnoText(failure));
  }
  return std::unique_ptr<ChildProcess>(
      new ChildProcess(pid, read_end.release(), std::chrono::steady_clock::now() + limits.time,
                       limits.output_bytes));
}

ChildProcess::~ChildProcess() {
  if (!reaped_) {
    Kill();
    waitpid(pid_, nullptr, 0);
  }
  close(output_);
}

void ChildProcess::Kill() {
  kill(-pid_, SIGKILL);
  kill(pid_, SIGKILL);
}

Result<size_t> ChildProcess::Read(void* buffer, size_t length) {
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline_ - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      Kill();
      return Status::Error("the time limit passed");
    }
    pollfd watched{output_, POLLIN, 0};
    const int ready =
        poll(&watched, 1, static_cast<int>(std::min<int64_t>(left.count(), INT32_MAX)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return Status::Error("cannot wait for output: " + ErrnoText(errno));
    if (ready == 0) continue;
    const ssize_t got = read(output_, buffer, length);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Status::Error("cannot read output: " + ErrnoText(errno));
    output_read_ += static_cast<uint64_t>(got);
    if (output_read_ > output_limit_) {
      Kill();
      return Status::Error("the output limit passed");
    }
    return static_cast<size_t>(got);
  }
}

Status ChildProcess::ReadAll(std::string& out) {
  char block[16384];
  while (true) {
    Result<size_t> got = Read(block, sizeof block);
    if (!got) return got.status();
    if (*got == 0) return Status::Ok();
    out.append(block, *got);
  }
}

int ChildProcess::Wait() {
  if (reaped_) return status_;
  int status = 0;
  while (true) {
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) break;
    if (done < 0 && errno != EINTR) return -1;
    if (std::chrono::steady_clock::now() >= deadline_) {
      Kill();
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  reaped_ = true;
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  // Whatever the program left running in its group goes with it.
  kill(-pid_, SIGKILL);
  return status_;
}

}  // namespace quarn
