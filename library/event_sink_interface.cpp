#include "library/event_sink_interface.h"

#include <nlohmann/json.hpp>

#include "cli/json_events.h"
#include "shell/scan_session.h"

namespace quarn {
namespace {

std::string WithoutHostPath(const std::string& event) {
  auto parsed = nlohmann::ordered_json::parse(event, nullptr, /*allow_exceptions=*/false);
  if (parsed.is_discarded() || !parsed.contains("host_path")) return event;
  parsed.erase("host_path");
  return parsed.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

void EventSinkInterface::Send(const std::string& event) {
  const bool go_on = sink_(without_host_path_ ? WithoutHostPath(event) : event);
  if (go_on || stopped_by_sink_) return;
  stopped_by_sink_ = true;
  // Read at the next entry: the file in hand is finished, actions and all.
  if (session_ != nullptr) session_->stop_requested() = true;
}

void EventSinkInterface::AddResultLine(const ResultLine& line) {
  if (line.kind == ReportKind::kText) return;
  std::vector<std::string> events = ResultLineEvents(line);
  // The first is the "line" event of the result list, which a library has not.
  for (size_t i = 1; i < events.size(); ++i) Send(events[i]);
}

void EventSinkInterface::ReportUnshownAction(const ResultLine& report) {
  Send(ActionEvent(report));
}

void EventSinkInterface::ReportUnshownIncomplete(const ResultLine& report) {
  Send(IncompleteEvent(report));
}

void EventSinkInterface::ReportBootVerdict(const BootVerdict& verdict) {
  Send(BootEvent(verdict));
}

}  // namespace quarn
