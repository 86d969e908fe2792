#include "cli/json_events.h"

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

// A variant, which no scan of the shipped samples finds, and a suspicious file.
TEST(JsonEvents, AVariantIsMarkedAndSuspiciousCarriesOnlyThePaths) {
  ResultLine line = FileLine(ReportKind::kDetection);
  line.virus_id = 913;
  line.virus_name = "Test.Com.Entry";
  line.variant = true;
  EXPECT_EQ(ResultLineEvents(line).at(1),
            R"({"event":"detection","path":"C:\\X.COM","host_path":"/srv/X.COM",)"
            R"("virus_id":913,"name":"Test.Com.Entry","variant":true})");
  std::vector<std::string> events = ResultLineEvents(FileLine(ReportKind::kSuspicious));
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(json::parse(events[1]),
            json::parse(R"({"event":"suspicious","path":"C:\\X.COM","host_path":"/srv/X.COM"})"));
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

}  // namespace
}  // namespace quarn
