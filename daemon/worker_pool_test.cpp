#include "daemon/worker_pool.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quarn {
namespace {

// A system that gives no thread (a user at its process limit) leaves a pool without threads
// for its owner to see, never an abort.
TEST(WorkerPoolTest, ThreadsTheSystemRefusesLeaveAPoolWithFewer) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to become a user at its process limit";
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Root is exempt from RLIMIT_NPROC; nobody, already at its limit of one, is not.
    const rlimit one{1, 1};
    if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0 ||
        setrlimit(RLIMIT_NPROC, &one) != 0) {
      _exit(3);
    }
    WorkerPool pool(4);
    _exit(pool.threads() == 0 ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the pool ended the process (signal " << WTERMSIG(status)
                                 << ")";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace quarn
