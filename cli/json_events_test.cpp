#include "cli/json_events.h"

#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>

namespace quarn {
namespace {

using nlohmann::json;

ResultLine FileLine(ReportKind kind) {
  ResultLine line;
  line.icon = ResultIcon::kVirus;
  line.text = "C:\\X.COM Infetto da EICAR-Test-File";
  line.kind = kind;
  line.path = "C:\\X.COM";
  line.host_path = "/srv/X.COM";
  return line;
}

TEST(JsonEvents, TextLineIsOneLineEventWithItsIcon) {
  const std::vector<std::pair<ResultIcon, std::string>> icons = {
      {ResultIcon::kBlank, "blank"},       {ResultIcon::kVirus, "virus"},
      {ResultIcon::kHardDisk, "harddisk"}, {ResultIcon::kFloppy, "floppy"},
      {ResultIcon::kCdRom, "cdrom"},       {ResultIcon::kNetwork, "network"},
      {ResultIcon::kComputer, "computer"}};
  for (const auto& [icon, name] : icons) {
    ResultLine line;
    line.icon = icon;
    line.text = "[C:]";
    std::vector<std::string> events = ResultLineEvents(line);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], R"({"event":"line","icon":")" + name + R"(","text":"[C:]"})");
  }
}

TEST(JsonEvents, DetectionFollowsItsLine) {
  ResultLine line = FileLine(ReportKind::kDetection);
  line.virus_id = 913;
  line.virus_name = "Test.Com.Entry";
  line.variant = true;
  std::vector<std::string> events = ResultLineEvents(line);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(json::parse(events[0])["event"], "line");
  EXPECT_EQ(json::parse(events[1]),
            json::parse(R"({"event":"detection","path":"C:\\X.COM","host_path":"/srv/X.COM",
                            "virus_id":913,"name":"Test.Com.Entry","variant":true})"));
  EXPECT_EQ(events[1].rfind(R"({"event":"detection",)", 0), 0u);  // the kind comes first
}

TEST(JsonEvents, SuspiciousCarriesOnlyThePaths) {
  std::vector<std::string> events = ResultLineEvents(FileLine(ReportKind::kSuspicious));
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(json::parse(events[1]),
            json::parse(R"({"event":"suspicious","path":"C:\\X.COM","host_path":"/srv/X.COM"})"));
}

TEST(JsonEvents, ActionsNameWhatWasDoneAndOnlyRenameHasNewPath) {
  ResultLine clean = FileLine(ReportKind::kAction);
  clean.action = ActionKind::kClean;
  clean.ok = false;
  EXPECT_EQ(json::parse(ResultLineEvents(clean).at(1)),
            json::parse(R"({"event":"action","path":"C:\\X.COM","host_path":"/srv/X.COM",
                            "action":"clean","ok":false})"));
  ResultLine deleted = FileLine(ReportKind::kAction);
  deleted.action = ActionKind::kDelete;
  deleted.ok = true;
  json delete_event = json::parse(ResultLineEvents(deleted).at(1));
  EXPECT_EQ(delete_event["action"], "delete");
  EXPECT_EQ(delete_event["ok"], true);
  EXPECT_FALSE(delete_event.contains("new_path"));
  ResultLine renamed = FileLine(ReportKind::kAction);
  renamed.action = ActionKind::kRename;
  renamed.ok = true;
  renamed.new_path = "C:\\X.VOM";
  json rename_event = json::parse(ResultLineEvents(renamed).at(1));
  EXPECT_EQ(rename_event["action"], "rename");
  EXPECT_EQ(rename_event["new_path"], "C:\\X.VOM");
}

TEST(JsonEvents, BootVerdictCarriesRemovedOnlyWhenARemovalWasTried) {
  BootVerdict verdict;
  verdict.target = "A:";
  verdict.area = "boot";
  verdict.virus_id = 970;
  verdict.virus_name = "QTF.Boot";
  EXPECT_EQ(BootEvent(verdict), R"({"event":"boot","target":"A:","area":"boot","virus_id":970,)"
                                R"("variant":false,"suspicious":false})");
  for (const bool removed : {true, false}) {
    verdict.removed = removed;
    EXPECT_EQ(json::parse(BootEvent(verdict))["removed"], removed);
  }
}

// The partitioned image of the containers contract, as its events name a file inside.
ResultLine InnerFileLine(ReportKind kind) {
  ResultLine line = FileLine(kind);
  line.path = "C:\\DISKS\\HD.IMG!C:\\DOS\\FORMAT.COM";
  line.host_path = "/srv/DISKS/HD.IMG";
  line.layers = {{"mbr", "1"}, {"fat16", "DOS\\FORMAT.COM"}};
  return line;
}

TEST(JsonEvents, FilesInsideContainersCarryTheWayInOutermostFirst) {
  const json layers =
      json::parse(R"([{"kind":"mbr","name":"1"},{"kind":"fat16","name":"DOS\\FORMAT.COM"}])");
  for (ReportKind kind : {ReportKind::kDetection, ReportKind::kSuspicious, ReportKind::kAction,
                          ReportKind::kIncomplete}) {
    const json inner = json::parse(ResultLineEvents(InnerFileLine(kind)).at(1));
    EXPECT_EQ(inner["layers"], layers) << inner;
    EXPECT_EQ(inner["path"], "C:\\DISKS\\HD.IMG!C:\\DOS\\FORMAT.COM");
    EXPECT_EQ(inner["host_path"], "/srv/DISKS/HD.IMG");
    const json host = json::parse(ResultLineEvents(FileLine(kind)).at(1));
    // A host file has no layers; only "incomplete" always names them, if empty.
    EXPECT_EQ(host.contains("layers"), kind == ReportKind::kIncomplete) << host;
  }
}

TEST(JsonEvents, BootVerdictOfAnImageNamesItsHostFileAndLayers) {
  BootVerdict verdict;
  verdict.target = "C:\\DISKS\\HD.IMG!D:";
  verdict.area = "boot";
  verdict.host_path = "/srv/DISKS/HD.IMG";
  verdict.layers = {{"mbr", "5"}, {"fat16", ""}};
  EXPECT_EQ(BootEvent(verdict),
            R"({"event":"boot","target":"C:\\DISKS\\HD.IMG!D:","area":"boot","virus_id":0,)"
            R"("variant":false,"suspicious":false,"host_path":"/srv/DISKS/HD.IMG",)"
            R"("layers":[{"kind":"mbr","name":"5"},{"kind":"fat16","name":""}]})");
}

TEST(JsonEvents, FileNameBytesThatAreNotUtf8BecomeReplacementCharacters) {
  ResultLine line = FileLine(ReportKind::kDetection);
  line.path = "C:\\B\xFF.COM";
  line.host_path = "/srv/B\xFF.COM";
  line.text = "C:\\B?.COM Infetto da X";
  line.virus_name = "Bad\xC3";
  std::vector<std::string> events = ResultLineEvents(line);
  json detection = json::parse(events.at(1));  // strict parsing: throws on invalid UTF-8
  EXPECT_EQ(detection["path"], "C:\\B\xEF\xBF\xBD.COM");
  EXPECT_EQ(detection["host_path"], "/srv/B\xEF\xBF\xBD.COM");
  EXPECT_EQ(detection["name"], "Bad\xEF\xBF\xBD");
  EXPECT_EQ(json::parse(MessageEvent("Errore", "Impossibile \xFE"))["text"],
            "Impossibile \xEF\xBF\xBD");
}

TEST(JsonEvents, SummaryHasEveryCounter) {
  ScanCounters counters{1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(SummaryEvent(counters),
            R"({"event":"summary","infected":1,"suspicious":2,"scanned":3,"total":4,)"
            R"("cleaned":5,"deleted":6,"renamed":7,"incomplete":8})");
  EXPECT_EQ(MessageEvent("Errore", "QUARN.DAT non trovato"),
            R"({"event":"message","caption":"Errore","text":"QUARN.DAT non trovato"})");
}

TEST(JsonEvents, OutputWritesOneEventPerLine) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  {
    DescriptorChannel channel(ends[1]);
    JsonEventOutput output(channel);
    output.AddResultLine(FileLine(ReportKind::kSuspicious));
    output.AddMessage("Errore", "x");
    output.AddSummary(ScanCounters{});
  }
  close(ends[1]);
  std::string written;
  char buffer[4096];
  for (ssize_t got; (got = read(ends[0], buffer, sizeof buffer)) > 0;) {
    written.append(buffer, static_cast<size_t>(got));
  }
  close(ends[0]);
  std::vector<std::string> kinds;
  size_t at = 0;
  while (at < written.size()) {
    const size_t end = written.find('\n', at);
    ASSERT_NE(end, std::string::npos);
    kinds.push_back(json::parse(written.substr(at, end - at))["event"]);
    at = end + 1;
  }
  EXPECT_EQ(kinds, (std::vector<std::string>{"line", "suspicious", "message", "summary"}));
}

}  // namespace
}  // namespace quarn
