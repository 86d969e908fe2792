#include "cli/container_arguments.h"

#include <CLI/CLI.hpp>

#include <limits>

namespace quarn {
namespace {

struct KindChoice {
  std::string_view name;
  uint32_t kinds;
};
constexpr KindChoice kKindChoices[] = {{"all", kAllContainers},
                                       {"images", kImageContainers},
                                       {"archives", kArchiveContainers},
                                       {"none", kNoContainers}};

std::vector<std::string> KindNames() {
  std::vector<std::string> names;
  for (const KindChoice& choice : kKindChoices) names.emplace_back(choice.name);
  return names;
}

uint32_t KindsNamed(const std::string& name) {
  const std::string lower = CLI::detail::to_lower(name);
  for (const KindChoice& choice : kKindChoices) {
    if (choice.name == lower) return choice.kinds;
  }
  return kAllContainers;
}

CLI::Validator SizeValidator() {
  return CLI::Validator(
      [](std::string& value) {
        return ParseSize(value)
                   ? std::string()
                   : "'" + value + "' is not a size (bytes, or a number with K, M or G)";
      },
      "");
}

// A count of 0 to 2³² − 1; CLI11 names the option in its message for anything else.
CLI::Option* AddCount(CLI::App& app, const char* name, uint32_t& value, const char* meaning,
                      const char* type_name = "N") {
  return app.add_option(name, value, meaning)
      ->type_name(type_name)
      ->check(CLI::Validator(CLI::Range(uint32_t{0}, std::numeric_limits<uint32_t>::max()))
                  .description(""));
}

}  // namespace

ContainerLimits ContainerArguments::Over(ContainerLimits stored) const {
  if (kinds) stored.kinds = *kinds;
  if (max_depth) stored.max_depth = *max_depth;
  if (max_entries) stored.max_entries = *max_entries;
  if (max_file_size) stored.max_file_size = *max_file_size;
  if (max_scan_size) stored.max_scan_size = *max_scan_size;
  if (max_ratio) stored.max_ratio = *max_ratio;
  if (max_time) stored.max_time = *max_time;
  return stored;
}

std::optional<uint64_t> ParseSize(std::string_view text) {
  uint64_t unit = 1;
  if (!text.empty()) {
    switch (text.back()) {
      case 'k':
      case 'K':
        unit = uint64_t{1} << 10;
        break;
      case 'm':
      case 'M':
        unit = uint64_t{1} << 20;
        break;
      case 'g':
      case 'G':
        unit = uint64_t{1} << 30;
        break;
      default:
        break;
    }
    if (unit != 1) text.remove_suffix(1);
  }
  if (text.empty()) return std::nullopt;
  constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();
  uint64_t number = 0;
  for (char digit : text) {
    if (digit < '0' || digit > '9') return std::nullopt;
    const uint64_t value = static_cast<uint64_t>(digit - '0');
    if (number > (kMax - value) / 10) return std::nullopt;
    number = number * 10 + value;
  }
  if (number > kMax / unit) return std::nullopt;
  return number * unit;
}

void ContainerOptionDeclarations::Declare(CLI::App& app) {
  kinds_option_ = app.add_option("--containers", kinds_,
                                 "which containers are opened and scanned inside: disk images, "
                                 "archives, both (default) or none")
                      ->check(CLI::IsMember(KindNames(), CLI::ignore_case));
  max_depth_option_ =
      AddCount(app, "--max-depth", max_depth_, "containers inside containers (default 10)");
  max_entries_option_ =
      AddCount(app, "--max-entries", max_entries_, "entries in one archive (default 100000)");
  max_file_size_option_ = app.add_option("--max-file-size", max_file_size_,
                                         "bytes of one file inside a container that are "
                                         "scanned (default 100M; K, M, G are 1024-based)")
                              ->type_name("SIZE")
                              ->check(SizeValidator());
  max_scan_size_option_ = app.add_option("--max-scan-size", max_scan_size_,
                                         "bytes unpacked for one file named or found on the "
                                         "host, all layers together (default 1G)")
                              ->type_name("SIZE")
                              ->check(SizeValidator());
  max_ratio_option_ = AddCount(app, "--max-ratio", max_ratio_,
                               "unpacked to packed bytes, for an entry past 1M (default 1000)");
  max_time_option_ =
      AddCount(app, "--max-time", max_time_,
               "seconds inside one file named or found on the host (default 120)", "SECONDS");
}

void ContainerOptionDeclarations::Fill(ContainerArguments& arguments) const {
  if (kinds_option_->count() > 0) arguments.kinds = KindsNamed(kinds_);
  if (max_depth_option_->count() > 0) arguments.max_depth = max_depth_;
  if (max_entries_option_->count() > 0) arguments.max_entries = max_entries_;
  // The sizes passed ParseSize's check while the app parsed them.
  if (max_file_size_option_->count() > 0) arguments.max_file_size = ParseSize(max_file_size_);
  if (max_scan_size_option_->count() > 0) arguments.max_scan_size = ParseSize(max_scan_size_);
  if (max_ratio_option_->count() > 0) arguments.max_ratio = max_ratio_;
  if (max_time_option_->count() > 0) arguments.max_time = max_time_;
}

}  // namespace quarn
