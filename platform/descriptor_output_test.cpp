#include "platform/descriptor_output.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace quarn {
namespace {

extern "C" void IgnoreTheNudge(int) {}

// The pipe is full, so a write of a line waits in the system, and a signal (handled without
// SA_RESTART, as quarnscan's Ctrl-C is) interrupts it before it wrote anything. The line must
// still arrive, whole and after everything written before it.
TEST(WriteToDescriptor, AWriteInterruptedByASignalIsMadeAgain) {
  struct sigaction nudge {};
  nudge.sa_handler = &IgnoreTheNudge;
  sigemptyset(&nudge.sa_mask);
  struct sigaction previous {};
  ASSERT_EQ(sigaction(SIGUSR1, &nudge, &previous), 0);
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  ASSERT_EQ(fcntl(ends[1], F_SETFL, O_NONBLOCK), 0);
  std::string before;
  while (write(ends[1], "f", 1) == 1) before += 'f';
  ASSERT_EQ(fcntl(ends[1], F_SETFL, 0), 0);
  const std::string line = std::string(1000, 'L') + "\n";

  Status written = Status::Ok();
  std::thread writer([&] { written = WriteToDescriptor(ends[1], line, "standard output"); });
  // Time for the write to wait, then for the signal to land before any room is made: room
  // made first would let the system finish the write without interrupting it.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  pthread_kill(writer.native_handle(), SIGUSR1);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // The pipe emptied of what filled it has room for the line; then the writer is done, one
  // way or the other, and what is left is read to the end.
  std::string received;
  char buffer[16384];
  while (received.size() < before.size()) {
    const ssize_t got = read(ends[0], buffer, sizeof buffer);
    if (got <= 0) break;
    received.append(buffer, static_cast<size_t>(got));
  }
  writer.join();
  close(ends[1]);
  for (ssize_t got; (got = read(ends[0], buffer, sizeof buffer)) > 0;) {
    received.append(buffer, static_cast<size_t>(got));
  }
  close(ends[0]);
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_TRUE(written.ok()) << written.message();
  EXPECT_TRUE(received == before + line)
      << "received " << received.size() << " bytes of " << before.size() + line.size();
}

}  // namespace
}  // namespace quarn
