#include "tests/quarnd_process.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <dirent.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/local_socket.h"
#include "samplegen/sample_set.h"

namespace quarn::e2e {
namespace {

using Clock = std::chrono::steady_clock;

// A free port on the loopback address, as the system hands one out now.
uint16_t FreeLoopbackPort() {
  const int probe = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  close(probe);
  return ntohs(address.sin_port);
}

}  // namespace

std::string ReadUntilClosed(int descriptor, std::chrono::milliseconds limit) {
  std::string got;
  const Clock::time_point deadline = Clock::now() + limit;
  char buffer[65536];
  while (true) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return got + "<TIMEOUT>";
    pollfd wait{descriptor, POLLIN, 0};
    if (poll(&wait, 1, static_cast<int>(left.count())) <= 0) continue;
    const ssize_t n = recv(descriptor, buffer, sizeof buffer, 0);
    if (n <= 0) return got;
    got.append(buffer, static_cast<size_t>(n));
  }
}

bool SendBytes(int descriptor, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(descriptor, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

std::string SampleBytes(const std::string& name) {
  static const std::vector<samples::Sample> set = samples::BuildSampleSet();
  for (const samples::Sample& sample : set) {
    if (sample.name == name) return {sample.bytes.begin(), sample.bytes.end()};
  }
  ADD_FAILURE() << "no sample " << name;
  return {};
}

bool WaitUntil(const std::function<bool()>& holds, std::chrono::milliseconds limit) {
  const Clock::time_point deadline = Clock::now() + limit;
  while (!holds()) {
    if (Clock::now() >= deadline) return holds();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string BuiltProgram(const std::string& name) {
  return std::string(QUARN_BIN_DIR) + "/" + name;
}

int ConnectTo(const std::string& socket_path) {
  return ConnectToLocalSocket(socket_path);
}

std::string Converse(const std::string& socket_path, const std::string& bytes,
                     std::chrono::milliseconds limit, bool close_writing) {
  const int descriptor = ConnectTo(socket_path);
  if (descriptor < 0) return "<NO CONNECTION>";
  SendBytes(descriptor, bytes);
  if (close_writing) shutdown(descriptor, SHUT_WR);
  std::string reply = ReadUntilClosed(descriptor, limit);
  close(descriptor);
  return reply;
}

std::string ConverseTcp(uint16_t port, const std::string& bytes, std::chrono::milliseconds limit) {
  const int descriptor = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(descriptor);
    return "<NO CONNECTION>";
  }
  SendBytes(descriptor, bytes);
  std::string reply = ReadUntilClosed(descriptor, limit);
  close(descriptor);
  return reply;
}

std::vector<std::string> SplitOn(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t from = 0;
  for (size_t at; (at = text.find(separator, from)) != std::string::npos; from = at + 1) {
    parts.push_back(text.substr(from, at - from));
  }
  if (from < text.size()) parts.push_back(text.substr(from));
  return parts;
}

std::string Chunks(const std::string& data, size_t chunk) {
  std::string framed;
  for (size_t at = 0; at < data.size(); at += chunk) {
    const std::string piece = data.substr(at, chunk);
    const auto length = static_cast<uint32_t>(piece.size());
    framed += {static_cast<char>(length >> 24), static_cast<char>(length >> 16),
               static_cast<char>(length >> 8), static_cast<char>(length)};
    framed += piece;
  }
  return framed + std::string(4, '\0');
}

QuarndProcess::QuarndProcess(std::vector<std::string> extra_config, bool tcp) {
  socket_path_ = scratch_.Child("quarnd.ctl");
  std::string threads = "MaxThreads 2";
  for (const std::string& line : extra_config) {
    if (line.starts_with("LocalSocket ")) socket_path_ = line.substr(12);
    if (line.starts_with("MaxThreads ")) threads = line;
  }
  config_path_ = scratch_.Child("quarnd.conf");
  std::ofstream config(config_path_);
  config << "LocalSocket " << socket_path_ << "\n"
         << "LogFile " << scratch_.Child("quarnd.log") << "\n"
         << "DatabaseDirectory " << QUARN_DATA_DIR << "\n"
         << threads << "\n";
  if (tcp) {
    tcp_port_ = FreeLoopbackPort();
    config << "TCPSocket " << *tcp_port_ << "\nTCPAddr 127.0.0.1\n";
  }
  for (const std::string& line : extra_config) {
    if (!line.starts_with("LocalSocket ") && !line.starts_with("MaxThreads ")) {
      config << line << "\n";
    }
  }
  config.close();
  Start();
}

QuarndProcess::~QuarndProcess() {
  if (running()) StopWith(SIGTERM);
}

bool QuarndProcess::Start() {
  exit_status_.reset();
  pid_ = fork();
  if (pid_ == 0) {
    const std::string err = scratch_.Child("quarnd.err");
    if (freopen(err.c_str(), "a", stderr) == nullptr) _exit(126);
    const std::string program = BuiltProgram("quarnd");
    execl(program.c_str(), "quarnd", "--foreground", "--config", config_path_.c_str(), nullptr);
    _exit(127);
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(20);
  while (Clock::now() < deadline) {
    if (!running()) return false;
    if (Converse(socket_path_, "nPING\n", std::chrono::seconds(2)) == "PONG\n") return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

bool QuarndProcess::Restart() {
  if (running()) return false;
  return Start();
}

bool QuarndProcess::running() const {
  if (pid_ <= 0) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) != pid_) return true;
  exit_status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  pid_ = -1;
  return false;
}

int QuarndProcess::StopWith(int signal_number, std::chrono::milliseconds limit) {
  if (pid_ > 0) kill(pid_, signal_number);
  const Clock::time_point deadline = Clock::now() + limit;
  while (running()) {
    if (Clock::now() >= deadline) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return exit_status_.value_or(-1);
}

int QuarndProcess::OpenDescriptors() const {
  if (!running()) return -1;
  DIR* folder = opendir(("/proc/" + std::to_string(pid_) + "/fd").c_str());
  if (folder == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = readdir(folder)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(folder);
  return count;
}

long QuarndProcess::ResidentKiB() const {
  if (!running()) return -1;
  std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
  }
  return -1;
}

std::string QuarndProcess::Log() const {
  std::stringstream text;
  for (const char* name : {"quarnd.log", "quarnd.err"}) {
    std::ifstream file(scratch_.Child(name));
    text << file.rdbuf();
  }
  return text.str();
}

}  // namespace quarn::e2e
