#pragma once

// quarnscan as a user runs it, for the end-to-end tests: the program in a session of its
// own with pipes (and a pseudo-terminal when asked), the samples, and a fixture whose scans
// see a test tree as drive C: with the database that ships.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "containers/test_support/fat_image_writer.h"
#include "platform/test_support/scratch_folder.h"
#include "samplegen/sample_set.h"

namespace quarn::e2e {

namespace fs = std::filesystem;
using nlohmann::json;

inline constexpr char kSeparator[] = "--------------------------------------------------------";
inline constexpr auto kDeadline = std::chrono::seconds(120);

struct Outcome {
  int exit_code = -1;  // -1: ended by a signal or never ended
  std::string out;
  std::string err;

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream stream(out);
    for (std::string line; std::getline(stream, line);) lines.push_back(line);
    return lines;
  }
  // Every standard output line parsed as one JSON event; fails the test on any other line.
  std::vector<json> Events() const {
    std::vector<json> events;
    for (const std::string& line : Lines()) {
      json event = json::parse(line, nullptr, /*allow_exceptions=*/false);
      EXPECT_FALSE(event.is_discarded()) << "not JSON: " << line;
      events.push_back(event);
    }
    return events;
  }
  std::vector<json> EventsOf(const std::string& kind) const {
    std::vector<json> chosen;
    for (const json& event : Events()) {
      if (event.value("event", "") == kind) chosen.push_back(event);
    }
    return chosen;
  }
};

// Where quarnscan's standard output goes: a pipe the test reads (the default), a pipe whose
// reader is gone before the program starts, or a file (such as /dev/full).
struct StandardOutput {
  bool reader_gone = false;
  std::string file;
};

// Whom quarnscan runs as (root tests only): another user, and how many processes and threads
// that user may have.
struct RunAs {
  std::optional<uid_t> user;
  std::optional<rlim_t> processes;
};

// quarnscan running in a session of its own. Without a terminal it has no controlling
// terminal, so a question it asks is answered No, as the contract says for such a run; with
// one, a pseudo-terminal is its controlling terminal (standard output and error stay pipes)
// and the test answers on it.
class Quarnscan {
 public:
  enum class Terminal { kNone, kPseudo };

  Quarnscan(const std::vector<std::string>& arguments,
            const std::map<std::string, std::string>& environment,
            Terminal terminal = Terminal::kNone, const StandardOutput& output = {},
            const RunAs& as = {}) {
    const std::string program = std::string(QUARN_BIN_DIR) + "/quarnscan";
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& argument : arguments) {
      argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::string terminal_name;
    if (terminal == Terminal::kPseudo) {
      master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
      if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
      terminal_name = ptsname(master_);
    }
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return;
    if (output.reader_gone) {
      close(out[0]);
      out[0] = -1;
    }
    pid_ = fork();
    if (pid_ == 0) {
      setsid();
      // The first terminal a session leader opens becomes its controlling terminal.
      if (!terminal_name.empty()) open(terminal_name.c_str(), O_RDWR);
      if (!output.file.empty()) {
        close(out[1]);
        out[1] = open(output.file.c_str(), O_WRONLY);
      }
      dup2(out[1], STDOUT_FILENO);
      dup2(err[1], STDERR_FILENO);
      if (out[0] >= 0) close(out[0]);
      close(out[1]), close(err[0]), close(err[1]);
      for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
      if (as.processes) {
        const rlimit most{*as.processes, *as.processes};
        if (setrlimit(RLIMIT_NPROC, &most) != 0) _exit(126);
      }
      if (as.user &&
          (setgroups(0, nullptr) != 0 || setgid(*as.user) != 0 || setuid(*as.user) != 0)) {
        _exit(126);
      }
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    out_ = output.file.empty() ? out[0] : -1;
    if (!output.file.empty()) close(out[0]);
    err_ = err[0];
  }
  ~Quarnscan() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int descriptor : {out_, err_, master_}) {
      if (descriptor >= 0) close(descriptor);
    }
  }

  // Reads the pseudo-terminal until what quarnscan wrote there since the last call holds
  // `text`, and returns all of it; empty at the deadline.
  std::string WaitForTerminal(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    std::string seen;
    while (seen.find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline) return "";
      pollfd master = {master_, POLLIN, 0};
      if (poll(&master, 1, 1000) <= 0) continue;
      char buffer[4096];
      const ssize_t got = read(master_, buffer, sizeof buffer);
      if (got <= 0) return "";
      seen.append(buffer, static_cast<size_t>(got));
    }
    return seen;
  }

  void Type(const std::string& text) {
    ASSERT_EQ(write(master_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  void Interrupt() { kill(pid_, SIGINT); }
  // Ctrl-C sent to the thread that writes the output, so that it lands on a write waiting there.
  void InterruptMainThread() { syscall(SYS_tgkill, pid_, pid_, SIGINT); }

  // Waits, without reading, until the standard output pipe is full, so that the program
  // waits in a write; false when the program ends first or at the deadline. A pipe counts as
  // full once it holds most of its capacity and has stopped filling: a write that does not
  // fit in the pages left waits with a few hundred bytes still free.
  bool WaitUntilOutputIsFull() {
    const int capacity = fcntl(out_, F_GETPIPE_SZ);
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    int last = -1;
    int unchanged = 0;
    while (std::chrono::steady_clock::now() < deadline) {
      int queued = 0;
      if (capacity <= 0 || ioctl(out_, FIONREAD, &queued) != 0) return false;
      unchanged = queued == last ? unchanged + 1 : 0;
      last = queued;
      if (queued >= capacity / 2 && unchanged >= 5) return true;
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        reaped_ = true;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  Outcome Finish() {
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    while (ReadSome()) {
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "quarnscan did not finish";
        return outcome_;
      }
    }
    int status = 0;
    if (pid_ > 0 && waitpid(pid_, &status, 0) == pid_) {
      reaped_ = true;
      outcome_.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return outcome_;
  }

 private:
  // One round of reading from whichever pipe has something; false once both have ended.
  bool ReadSome() {
    pollfd pipes[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
    if (out_ < 0 && err_ < 0) return false;
    if (poll(pipes, 2, 1000) < 0) return false;
    std::string* targets[2] = {&outcome_.out, &outcome_.err};
    int* descriptors[2] = {&out_, &err_};
    for (int i = 0; i < 2; ++i) {
      if (*descriptors[i] < 0 || pipes[i].revents == 0) continue;
      char buffer[65536];
      const ssize_t got = read(*descriptors[i], buffer, sizeof buffer);
      if (got > 0) {
        targets[i]->append(buffer, static_cast<size_t>(got));
      } else {
        close(*descriptors[i]);
        *descriptors[i] = -1;
      }
    }
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  int master_ = -1;
  bool reaped_ = false;
  Outcome outcome_;
};

inline const samples::Sample& SampleNamed(const std::string& name) {
  static const std::vector<samples::Sample> all = samples::BuildSampleSet();
  for (const samples::Sample& sample : all) {
    if (sample.name == name) return sample;
  }
  static const samples::Sample none;
  ADD_FAILURE() << "no sample " << name;
  return none;
}

// A 1.44 MB floppy: the test file in DOS\, an infected program under a long name, and a
// clean text.
inline std::vector<uint8_t> SampleFloppy() {
  return testing::FatImageWriter(testing::FloppyLayout(1440))
      .AddFolder("DOS")
      .AddFile("DOS/EICAR.COM", SampleNamed("eicar.com").bytes)
      .AddFile("Long Name Entry.exe", SampleNamed("exe_entry.exe").bytes)
      .AddFile("README.TXT", std::vector<uint8_t>(300, 'a'))
      .Build();
}

inline std::string Text(const std::vector<uint8_t>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void WriteFile(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

inline size_t CountOf(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

class QuarnscanCli : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(scratch_.path().empty());
    tree_ = scratch_.Child("tree");
    settings_ = scratch_.Child("settings.reg");
    fs::create_directories(tree_);
  }

  // The tree is drive C:, the database the one that ships, and no log unless asked for.
  Outcome Scan(std::vector<std::string> arguments,
               const std::map<std::string, std::string>& environment = {},
               const StandardOutput& output = {}) {
    return Quarnscan(WithFixture(std::move(arguments)), environment, Quarnscan::Terminal::kNone,
                     output)
        .Finish();
  }

  // A run with the fixture's settings and database but none of its drives, so that disk
  // images' volumes take their letters.
  Outcome ScanWithoutDrives(const std::vector<std::string>& arguments) {
    std::vector<std::string> all = {"--settings",   settings_,  "--data-dir",
                                    QUARN_DATA_DIR, "--no-log", "--no-memory"};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return Quarnscan(all, {}).Finish();
  }

  // The arguments of a Scan: the fixture's settings, drive, database and log choices first.
  std::vector<std::string> WithFixture(const std::vector<std::string>& arguments) {
    std::vector<std::string> all = {"--settings", settings_, "--drive", "C:=" + tree_};
    if (!Has(arguments, "--data-dir")) all.insert(all.end(), {"--data-dir", QUARN_DATA_DIR});
    if (!Has(arguments, "--log")) all.push_back("--no-log");
    // The start-up memory scan has tests of its own; elsewhere its lines would be noise.
    if (!Has(arguments, "--memory-image")) all.push_back("--no-memory");
    all.insert(all.end(), arguments.begin(), arguments.end());
    return all;
  }

  void Put(const std::string& name, const std::string& sample) {
    WriteFile(tree_ + "/" + name, Text(SampleNamed(sample).bytes));
  }

  // A copy of the shipped database in a folder of its own, so a log can be written beside it.
  std::string DataCopy(const std::string& name) {
    const std::string folder = scratch_.Child(name);
    fs::create_directories(folder);
    for (const char* file : {"QUARN.DAT", "NAMEVIR.DAT"}) {
      fs::copy_file(fs::path(QUARN_DATA_DIR) / file, fs::path(folder) / file);
    }
    return folder;
  }

  // A copy of the shipped database as DataCopy makes it, with the QUARNX.DAT that quarndb
  // imports from the ClamAV records in the folder `records`.
  std::string DataImporting(const std::string& records, const std::string& name) {
    const std::string data = DataCopy(name);
    const std::string command = std::string(QUARN_BIN_DIR) + "/quarndb import-clamav " + records +
                                " -o " + data + " >/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    return data;
  }

  static bool Has(const std::vector<std::string>& arguments, const std::string& option) {
    for (const std::string& argument : arguments) {
      if (argument.rfind(option, 0) == 0) return true;
    }
    return false;
  }

  ScratchFolder scratch_;
  std::string tree_;
  std::string settings_;
};

inline std::vector<std::string> Totals(uint32_t infected, uint32_t suspicious, uint32_t scanned,
                                       uint32_t total) {
  return {"Files Infetti: " + std::to_string(infected) + ".",
          "Files Sospetti: " + std::to_string(suspicious) + ".",
          "Files Analizzati: " + std::to_string(scanned) + ".",
          "Files Totali: " + std::to_string(total) + "."};
}

inline std::vector<std::string> Join(std::vector<std::string> first,
                                     const std::vector<std::string>& then) {
  first.insert(first.end(), then.begin(), then.end());
  return first;
}

}  // namespace quarn::e2e
