#pragma once

// quarnd as the end-to-end tests run it: the program itself, started in a folder of its own
// with a configuration file, its socket and log there, and clients that talk to it with the
// bytes a real client sends.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/test_support/scratch_folder.h"

namespace quarn::e2e {

class QuarndProcess {
 public:
  // Starts quarnd with the bundled database, a Unix socket in its folder (or where a
  // "LocalSocket" line of `extra_config` says), two threads (or as a "MaxThreads" line says),
  // a TCP socket on a free loopback port when
  // `tcp`, and the other `extra_config` lines after those; waits until it answers PING.
  explicit QuarndProcess(std::vector<std::string> extra_config = {}, bool tcp = false);
  // Stops it with SIGTERM if it still runs.
  ~QuarndProcess();
  QuarndProcess(const QuarndProcess&) = delete;
  QuarndProcess& operator=(const QuarndProcess&) = delete;

  bool running() const;
  pid_t pid() const { return pid_; }
  const std::string& folder() const { return scratch_.path(); }
  const std::string& socket_path() const { return socket_path_; }
  std::optional<uint16_t> tcp_port() const { return tcp_port_; }
  // What it wrote to its log and standard error so far.
  std::string Log() const;
  // Sends `signal_number` (0: none) and waits for the process to end (up to `limit`): its
  // exit status, or -1 for one killed by a signal or still running.
  int StopWith(int signal_number, std::chrono::milliseconds limit = std::chrono::seconds(15));
  // Starts it again on the same configuration (after a kill), waiting for PING as at first.
  bool Restart();
  // Its open descriptors (/proc/PID/fd), or -1 when it does not run.
  int OpenDescriptors() const;
  // Its resident memory in KiB (VmRSS of /proc/PID/status), or -1.
  long ResidentKiB() const;

 private:
  bool Start();

  ScratchFolder scratch_;
  std::string socket_path_;
  std::string config_path_;
  std::optional<uint16_t> tcp_port_;
  // Set when the process has been waited for.
  mutable pid_t pid_ = -1;
  mutable std::optional<int> exit_status_;
};

// One connection: sends `bytes` (then half-closes when `close_writing`) and reads until the
// daemon closes or `limit` passes. "<TIMEOUT>" ends what is returned when the limit passed.
std::string Converse(const std::string& socket_path, const std::string& bytes,
                     std::chrono::milliseconds limit = std::chrono::seconds(10),
                     bool close_writing = false);
std::string ConverseTcp(uint16_t port, const std::string& bytes,
                        std::chrono::milliseconds limit = std::chrono::seconds(10));
// A connected Unix socket to the daemon (blocking), or -1.
int ConnectTo(const std::string& socket_path);
// Sends all of `bytes` on `descriptor`; false when the peer is gone.
bool SendBytes(int descriptor, const std::string& bytes);
// What arrives on `descriptor` until the peer closes or `limit` passes ("<TIMEOUT>" ends it then).
std::string ReadUntilClosed(int descriptor,
                            std::chrono::milliseconds limit = std::chrono::seconds(10));

// `text` cut at each `separator` (a last part without one included).
std::vector<std::string> SplitOn(const std::string& text, char separator);

// `data` as INSTREAM chunks of at most `chunk` bytes and the closing zero length.
std::string Chunks(const std::string& data, size_t chunk = 1024);

// Writes `bytes` to `path`, making the folders on the way.
void WriteFile(const std::string& path, const std::string& bytes);

// The bytes of the sample `name` of samplegen's set (a test failure when there is none).
std::string SampleBytes(const std::string& name);

// Asks `holds` every 20 ms until it says yes or `limit` passes; its last answer.
bool WaitUntil(const std::function<bool()>& holds, std::chrono::milliseconds limit);

// The path of a program of the build (quarnd, quarnscan).
std::string BuiltProgram(const std::string& name);

}  // namespace quarn::e2e
