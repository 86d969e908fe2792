#include "cli/json_events.h"

#include <nlohmann/json.hpp>

#include "containers/container.h"
#include "engine/imported_detector.h"
#include "platform/text_encoding.h"

namespace quarn {
namespace {

// Keeps "event" first, where a person reading the stream looks for it.
using Event = nlohmann::ordered_json;

std::string_view IconName(ResultIcon icon) {
  switch (icon) {
    case ResultIcon::kBlank:
      return "blank";
    case ResultIcon::kVirus:
      return "virus";
    case ResultIcon::kHardDisk:
      return "harddisk";
    case ResultIcon::kFloppy:
      return "floppy";
    case ResultIcon::kCdRom:
      return "cdrom";
    case ResultIcon::kNetwork:
      return "network";
    case ResultIcon::kComputer:
      return "computer";
  }
  return "blank";
}

std::string_view ActionName(ActionKind action) {
  switch (action) {
    case ActionKind::kClean:
      return "clean";
    case ActionKind::kDelete:
      return "delete";
    case ActionKind::kRename:
      return "rename";
  }
  return "clean";
}

Event Named(std::string_view name) {
  Event event;
  event["event"] = name;
  return event;
}

Event LayersOf(const std::vector<PathLayer>& layers) {
  Event all = Event::array();
  for (const PathLayer& layer : layers) {
    Event one;
    one["kind"] = RepairUtf8(layer.kind);
    one["name"] = RepairUtf8(layer.name);
    all.push_back(std::move(one));
  }
  return all;
}

// A host file has no layers; a file inside a container has them after its paths.
void AddFilePaths(const ResultLine& line, Event& event) {
  event["path"] = RepairUtf8(line.path);
  event["host_path"] = RepairUtf8(line.host_path);
  if (!line.layers.empty()) event["layers"] = LayersOf(line.layers);
}

std::string Serialize(const Event& event) {
  // Every string was repaired already; "replace" only keeps dump() from ever throwing.
  return event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace

std::vector<std::string> ResultLineEvents(const ResultLine& line) {
  std::vector<std::string> events;
  Event shown = Named("line");
  shown["icon"] = IconName(line.icon);
  shown["text"] = RepairUtf8(line.text);
  events.push_back(Serialize(shown));

  switch (line.kind) {
    case ReportKind::kText:
      break;
    case ReportKind::kDetection: {
      Event detection = Named("detection");
      AddFilePaths(line, detection);
      detection["virus_id"] = line.virus_id;
      detection["name"] = RepairUtf8(line.virus_name);
      detection["variant"] = line.variant;
      if (IsImportedVirusId(line.virus_id)) detection["source"] = "imported";
      events.push_back(Serialize(detection));
      break;
    }
    case ReportKind::kSuspicious: {
      Event suspicious = Named("suspicious");
      AddFilePaths(line, suspicious);
      events.push_back(Serialize(suspicious));
      break;
    }
    case ReportKind::kAction:
      events.push_back(ActionEvent(line));
      break;
    case ReportKind::kIncomplete:
      events.push_back(IncompleteEvent(line));
      break;
  }
  return events;
}

std::string IncompleteEvent(const ResultLine& line) {
  Event incomplete = Named("incomplete");
  incomplete["path"] = RepairUtf8(line.path);
  incomplete["host_path"] = RepairUtf8(line.host_path);
  // A host file or folder that could not be read was never opened as a container: it has no
  // way in to show.
  if (line.reason != IncompleteReasonName(IncompleteReason::kUnreadable)) {
    incomplete["layers"] = LayersOf(line.layers);
  }
  incomplete["reason"] = line.reason;
  return Serialize(incomplete);
}

std::string ActionEvent(const ResultLine& line) {
  Event action = Named("action");
  AddFilePaths(line, action);
  action["action"] = ActionName(line.action);
  action["ok"] = line.ok;
  if (line.action == ActionKind::kRename && line.ok) {
    action["new_path"] = RepairUtf8(line.new_path);
  }
  return Serialize(action);
}

std::string BootEvent(const BootVerdict& verdict) {
  Event boot = Named("boot");
  boot["target"] = RepairUtf8(verdict.target);
  boot["area"] = verdict.area;
  boot["virus_id"] = verdict.virus_id;
  if (IsImportedVirusId(verdict.virus_id)) boot["source"] = "imported";
  boot["variant"] = verdict.variant;
  boot["suspicious"] = verdict.suspicious;
  if (verdict.removed) boot["removed"] = *verdict.removed;
  if (!verdict.layers.empty()) {
    boot["host_path"] = RepairUtf8(verdict.host_path);
    boot["layers"] = LayersOf(verdict.layers);
  }
  return Serialize(boot);
}

std::string MessageEvent(std::string_view caption, std::string_view text) {
  Event message = Named("message");
  message["caption"] = RepairUtf8(caption);
  message["text"] = RepairUtf8(text);
  return Serialize(message);
}

std::string SummaryEvent(const ScanCounters& counters) {
  Event summary = Named("summary");
  summary["infected"] = counters.infected;
  summary["suspicious"] = counters.suspicious;
  summary["scanned"] = counters.scanned;
  summary["total"] = counters.total;
  summary["cleaned"] = counters.cleaned;
  summary["deleted"] = counters.deleted;
  summary["renamed"] = counters.renamed;
  summary["incomplete"] = counters.incomplete;
  return Serialize(summary);
}

void JsonEventOutput::AddResultLine(const ResultLine& line) {
  for (const std::string& event : ResultLineEvents(line)) Write(event);
}

void JsonEventOutput::AddUnshownAction(const ResultLine& report) {
  Write(ActionEvent(report));
}

void JsonEventOutput::AddUnshownIncomplete(const ResultLine& report) {
  Write(IncompleteEvent(report));
}

void JsonEventOutput::AddBootVerdict(const BootVerdict& verdict) {
  Write(BootEvent(verdict));
}

void JsonEventOutput::AddMemoryVerdict(uint32_t virus_id, std::string_view name) {
  Event memory = Named("memory");
  memory["virus_id"] = virus_id;
  memory["name"] = RepairUtf8(name);
  Write(Serialize(memory));
}

void JsonEventOutput::AddMessage(std::string_view caption, std::string_view text) {
  Write(MessageEvent(caption, text));
}

void JsonEventOutput::AddSummary(const ScanCounters& counters) {
  Write(SummaryEvent(counters));
}

void JsonEventOutput::Write(const std::string& event) {
  out_.Write(event + "\n");
}

}  // namespace quarn
