#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

#include "platform/descriptor_output.h"
#include "platform/path_names.h"
#include "platform/unique_descriptor.h"
#include "platform/unnamed_file.h"

namespace quarn {
namespace {

constexpr int kInputDescriptor = 3;
constexpr size_t kCopyBlock = 64 * 1024;

// posix_spawn's attributes and file actions, freed on every way out.
struct SpawnSetup {
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_t actions;
  SpawnSetup() {
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_init(&actions);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
};

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

  SpawnSetup setup;
  // In the root folder: nothing it might write by a relative name lands beside our files.
  posix_spawn_file_actions_addchdir_np(&setup.actions, "/");
  posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&setup.actions, write_end.get(), 1);
  posix_spawn_file_actions_addopen(&setup.actions, 2, "/dev/null", O_WRONLY, 0);
  if (input) posix_spawn_file_actions_adddup2(&setup.actions, input->descriptor_, kInputDescriptor);
  posix_spawn_file_actions_addclosefrom_np(&setup.actions,
                                           input ? kInputDescriptor + 1 : kInputDescriptor);
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&setup.attributes, &none);
  posix_spawnattr_setsigdefault(&setup.attributes, &all);
  posix_spawnattr_setpgroup(&setup.attributes, 0);
  posix_spawnattr_setflags(&setup.attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

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
  char* environment[] = {nullptr};

  pid_t pid = 0;
  const int failed =
      posix_spawn(&pid, kPrlimit, &setup.actions, &setup.attributes, argv.data(), environment);
  if (failed != 0) return Status::Error("cannot start " + program + ": " + ErrnoText(failed));
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
