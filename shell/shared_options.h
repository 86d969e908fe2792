#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/image_system_access.h"

// CLI11 is header-only and costs seconds to parse: the declarations here only need its names,
// so the files that include this one do not pay for it.
namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace quarn {

// What quarnscan's and quarnexp's command lines both say, with one meaning: where the
// settings and the databases are, and the machine of this run (its drive and disk maps and
// the memory checked at start-up). An absent value means "as the settings say"; none of it
// is ever written back to the settings store.
struct SharedOptions {
  std::optional<std::string> settings_path;
  std::optional<std::string> data_directory;
  std::vector<std::string> drives;  // --drive values as given, each one ParseDriveArgument accepts
  std::vector<DiskMapping> disks;
  std::optional<std::string> memory_image;
  bool skip_memory_scan = false;
};

// The shared options declared on a program's CLI::App: --settings and --data-dir where
// DeclarePlaces is called, --memory-image, --no-memory, --drive and --disk where
// DeclareMachine is, so each program keeps its own order in --help. Values are checked
// while parsing; Fill copies what was given once the app has parsed.
class SharedOptionDeclarations {
 public:
  void DeclarePlaces(CLI::App& app);
  void DeclareMachine(CLI::App& app);
  void Fill(SharedOptions& options) const;

 private:
  std::string settings_, data_directory_, memory_image_;
  std::vector<std::string> disks_;
  CLI::Option* settings_option_ = nullptr;
  CLI::Option* data_option_ = nullptr;
  CLI::Option* memory_option_ = nullptr;
  bool skip_memory_scan_ = false;
  std::vector<std::string> drives_;
};

}  // namespace quarn
