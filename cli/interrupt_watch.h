#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace quarn {

// Ctrl-C for quarnscan. The first SIGINT raises a flag and sets the stop request of the scan
// that an InterruptForwarder names (lock-free atomics: all a signal handler may touch); the
// walk reads it at its next entry, so the totals and the summary are still written. The handler
// resets itself, so a second Ctrl-C ends the program at once, and it is installed without
// SA_RESTART, so a question waiting on the terminal gives way to the stop.

// Installs the handler; first thing in main, before anything worth stopping starts.
void InstallInterruptHandler();

// Whether Ctrl-C was pressed at any time since the handler was installed.
bool InterruptReceived();

// While it lives, Ctrl-C sets `stop` at once, and a watcher sets it again should anything
// clear it afterwards (a new scan resets its stop request). Must go before `stop` does; one
// at a time. Throws std::system_error, having changed nothing, when the watcher cannot start.
class InterruptForwarder {
 public:
  static constexpr std::chrono::milliseconds kPollInterval{10};

  explicit InterruptForwarder(std::atomic<bool>& stop);
  ~InterruptForwarder();
  InterruptForwarder(const InterruptForwarder&) = delete;
  InterruptForwarder& operator=(const InterruptForwarder&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool ending_ = false;
  std::thread watcher_;
};

}  // namespace quarn
