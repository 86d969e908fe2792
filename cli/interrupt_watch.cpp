#include "cli/interrupt_watch.h"

#include <signal.h>

#include <csignal>

namespace quarn {
namespace {

volatile std::sig_atomic_t interrupted = 0;
// The stop request of the scan under way, set from the handler itself so that the walk's
// very next entry sees it.
std::atomic<std::atomic<bool>*> stop_target{nullptr};
static_assert(std::atomic<bool>::is_always_lock_free &&
                  std::atomic<std::atomic<bool>*>::is_always_lock_free,
              "a signal handler may only touch lock-free atomics");

extern "C" void OnInterrupt(int) {
  interrupted = 1;
  if (std::atomic<bool>* stop = stop_target.load()) stop->store(true);
}

}  // namespace

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = &OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
}

bool InterruptReceived() {
  return interrupted != 0;
}

InterruptForwarder::InterruptForwarder(std::atomic<bool>& stop) {
  stop_target.store(&stop);
  // The watcher starts with SIGINT blocked (a thread inherits its creator's mask), so the
  // signal lands on the scanning thread, where it interrupts a read waiting for an answer.
  sigset_t blocked, previous;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  pthread_sigmask(SIG_BLOCK, &blocked, &previous);
  try {
    watcher_ = std::thread([this, &stop] {
      std::unique_lock<std::mutex> lock(mutex_);
      do {
        if (interrupted != 0) stop.store(true);
      } while (!wake_.wait_for(lock, kPollInterval, [this] { return ending_; }));
    });
  } catch (...) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    stop_target.store(nullptr);
    throw;
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

InterruptForwarder::~InterruptForwarder() {
  stop_target.store(nullptr);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
  }
  wake_.notify_all();
  watcher_.join();
}

}  // namespace quarn
