#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "shell/container_limits.h"

namespace CLI {
class App;
class Option;
}  // namespace CLI

namespace quarn {

// What this run's command line says about containers; an absent value keeps the settings'.
struct ContainerArguments {
  std::optional<uint32_t> kinds;
  std::optional<uint32_t> max_depth;
  std::optional<uint32_t> max_entries;
  std::optional<uint64_t> max_file_size;
  std::optional<uint64_t> max_scan_size;
  std::optional<uint32_t> max_ratio;
  std::optional<uint32_t> max_time;

  // `stored` with what was given here put over it.
  ContainerLimits Over(ContainerLimits stored) const;
};

// A size as the options take it: decimal digits and an optional K, M or G (either case) for
// 1024, 1024² or 1024³ bytes. Nothing for anything else, or a size past 2⁶⁴ − 1.
std::optional<uint64_t> ParseSize(std::string_view text);

// --containers, --max-depth, --max-entries, --max-file-size, --max-scan-size, --max-ratio
// and --max-time on a program's CLI::App; values are checked while parsing, and a mistake's
// message names the option. Fill copies what was given once the app has parsed.
class ContainerOptionDeclarations {
 public:
  void Declare(CLI::App& app);
  void Fill(ContainerArguments& arguments) const;

 private:
  std::string kinds_, max_file_size_, max_scan_size_;
  uint32_t max_depth_ = 0, max_entries_ = 0, max_ratio_ = 0, max_time_ = 0;
  CLI::Option* kinds_option_ = nullptr;
  CLI::Option* max_depth_option_ = nullptr;
  CLI::Option* max_entries_option_ = nullptr;
  CLI::Option* max_file_size_option_ = nullptr;
  CLI::Option* max_scan_size_option_ = nullptr;
  CLI::Option* max_ratio_option_ = nullptr;
  CLI::Option* max_time_option_ = nullptr;
};

}  // namespace quarn
