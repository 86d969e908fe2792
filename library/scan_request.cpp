#include "library/scan_request.h"

#include <CLI/CLI.hpp>
#include <array>
#include <utility>

namespace quarn {
namespace {

template <typename Value, size_t N>
std::optional<Value> Choice(const std::array<std::pair<std::string_view, Value>, N>& choices,
                            std::string_view value) {
  for (const auto& [word, chosen] : choices) {
    if (word == value) return chosen;
  }
  return std::nullopt;
}

Status BadValue(std::string_view name, std::string_view value, std::string_view allowed) {
  return Status::Error("option '" + std::string(name) + "': '" + std::string(value) +
                       "' is not one of " + std::string(allowed));
}

// The container options go through quarnscan's own declarations, so that a value means the
// same and is refused with the same words in both.
Status SetContainerOption(ScanRequest& request, std::string_view name, std::string_view value) {
  CLI::App app;
  ContainerOptionDeclarations declarations;
  declarations.Declare(app);
  std::vector<std::string> arguments = {std::string(value), "--" + std::string(name)};
  try {
    app.parse(arguments);  // CLI11 takes a vector last argument first
  } catch (const CLI::ParseError& error) {
    return Status::Error("option '" + std::string(name) + "': " + error.what());
  }
  declarations.Fill(request.containers);
  return Status::Ok();
}

}  // namespace

ScanOptions ScanRequest::Options() const {
  ScanOptions options;
  options.file_filter = file_filter;
  options.scan_action = action;
  options.heuristics_enabled = heuristics_enabled;
  return options;
}

Status SetScanOption(ScanRequest& request, std::string_view name, std::string_view value) {
  static constexpr std::array<std::pair<std::string_view, uint32_t>, 2> kFiles = {
      {{"exe", 0}, {"all", 1}}};
  static constexpr std::array<std::pair<std::string_view, uint32_t>, 2> kHeuristics = {
      {{"on", 1}, {"off", 0}}};
  // Only the actions that ask nothing: a library has nobody to ask.
  static constexpr std::array<std::pair<std::string_view, ScanAction>, 4> kActions = {
      {{"none", kActionReportOnly},
       {"clean", kActionCleanAuto},
       {"delete", kActionDeleteAuto},
       {"rename", kActionRenameAuto}}};
  if (name == "files") {
    auto chosen = Choice(kFiles, value);
    if (!chosen) return BadValue(name, value, "exe, all");
    request.file_filter = *chosen;
  } else if (name == "heuristics") {
    auto chosen = Choice(kHeuristics, value);
    if (!chosen) return BadValue(name, value, "on, off");
    request.heuristics_enabled = *chosen;
  } else if (name == "action") {
    auto chosen = Choice(kActions, value);
    if (!chosen) return BadValue(name, value, "none, clean, delete, rename");
    request.action = *chosen;
  } else if (name == "containers" || name.starts_with("max-")) {
    return SetContainerOption(request, name, value);
  } else {
    return Status::Error("unknown option '" + std::string(name) + "'");
  }
  return Status::Ok();
}

}  // namespace quarn
