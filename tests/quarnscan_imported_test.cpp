// quarnscan with a QUARNX.DAT that quarndb made from ClamAV records: each kind of signature
// found where its rule says and not one byte off (in the streams of compound documents for
// theirs), reported as imported, inside archives too; a damaged QUARNX.DAT told, the scan run
// on; a file whose verification reached its bound reported not scanned, never clean.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "containers/test_support/zip_writer.h"
#include "engine/test_support/compound_file_writer.h"
#include "engine/test_support/executable_builder.h"
#include "tests/quarnscan_runner.h"

namespace quarn {
namespace {

using namespace e2e;  // NOLINT(google-build-using-namespace): the runner is this file's vocabulary

const std::string kAnywhere = "Quarn-import-any";
const std::string kTail = "TAILMARK";
const std::vector<uint8_t> kEntryCode = {0xE8, 0x00, 0x00, 0x00, 0x00, 0x5D, 0x81, 0xED};
const std::string kHashed = "hello imported\n";
const std::string kHashedAnySize = "of any size\n";
const std::string kStreamMark = "Quarn-stream-mark";

std::string Repeated(const std::string& piece, int times) {
  std::string pieces;
  for (int time = 0; time < times; ++time) pieces += piece;
  return pieces;
}

const std::map<std::string, std::string> kRecords = {
    {"test.ndb",
     "Test.Anywhere-1:0:*:517561726e2d696d706f72742d616e79\n"
     "Test.Tail-1:0:EOF-16:5441494c4d41524b\n"
     "Test.Entry-1:1:EP+0:e8000000005d81ed\n"
     "Test.Stream-1:2:*:517561726e2d73747265616d2d6d61726b\n"
     "Test.Bound-1:0:*:4100{0-300000}4100{100-200}4142\n"
     "Test.Budget-1:0:0:4100" +
         Repeated("{0-300000}4100", 64) + "{100-200}4142\n"},
    {"test.hdb",
     "9646750548e73a247a6e32908d2b8631:15:Test.Hash-1\n"
     "59100bf48f8f796894b476482b4f7483:*:Test.AnySize-1:73\n"},
};

std::vector<uint8_t> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

std::vector<uint8_t> Padded(size_t before, const std::string& middle, size_t after) {
  std::vector<uint8_t> bytes(before, 'x');
  bytes.insert(bytes.end(), middle.begin(), middle.end());
  bytes.insert(bytes.end(), after, 'y');
  return bytes;
}

// A compound document whose one stream holds `mark` across the end of its first sector;
// its sectors lie scattered, so the mark's two halves are apart in the file.
std::vector<uint8_t> DocumentWith(const std::string& mark) {
  std::vector<uint8_t> stream = Padded(505, mark, 6000);
  return testing::CompoundFileWriter().AddStream("Data", stream).ScatterSectors(3).Build();
}

class QuarnscanImported : public QuarnscanCli {
 protected:
  // A copy of the shipped database with a QUARNX.DAT that quarndb made from kRecords.
  std::string DataWithImports() {
    const std::string records = scratch_.Child("clamav");
    for (const auto& [name, text] : kRecords) WriteFile(records + "/" + name, text);
    return DataImporting(records, "data");
  }
  void PutBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
    WriteFile(tree_ + "/" + name, Text(bytes));
  }
};

// "path name source" for each detection.
std::set<std::string> Detections(const Outcome& outcome) {
  std::set<std::string> found;
  for (const json& event : outcome.EventsOf("detection")) {
    const bool imported = event.value("virus_id", 0u) >= 65536;
    found.insert(event.value("path", "") + " " + event.value("name", "") + " " +
                 event.value("source", "-") + (imported ? "" : " (id below 65536)"));
  }
  return found;
}

TEST_F(QuarnscanImported, EachKindIsFoundWhereItsRuleSaysAndReportedAsImported) {
  const std::string data = DataWithImports();
  PutBytes("ANY.DAT", Padded(1000, kAnywhere, 500));
  PutBytes("TAIL.DAT", Padded(300, kTail, 8));      // starts 16 bytes before the end
  PutBytes("NEARTAIL.DAT", Padded(300, kTail, 9));  // 17
  PutBytes("HASHED.TXT", Bytes(kHashed));
  PutBytes("LONGER.TXT", Bytes(kHashed + "!"));
  PutBytes("ANYSIZE.TXT", Bytes(kHashedAnySize));
  PutBytes("ENTRY.EXE", testing::PeBuilder().Code(0x200, kEntryCode).Build());
  PutBytes("NOTPE.BIN", Padded(0x200, std::string(kEntryCode.begin(), kEntryCode.end()), 64));
  PutBytes("STREAM.DOC", DocumentWith(kStreamMark));
  PutBytes("STREAM.DAT", Padded(505, kStreamMark, 600));  // not a compound document
  PutBytes("ANYSTREAM.DOC", DocumentWith(kAnywhere));
  PutBytes("PACK.ZIP", testing::ZipWriter().Add("INNER.DAT", Padded(10, kAnywhere, 10)).Build());
  Put("EICAR.COM", "eicar.com");

  const Outcome outcome = Scan({"--json", "--files", "all", "--data-dir", data, "C:"});
  EXPECT_EQ(outcome.exit_code, 1) << outcome.err;
  EXPECT_EQ(
      Detections(outcome),
      (std::set<std::string>{
          "C:\\ANY.DAT Test.Anywhere-1 imported", "C:\\TAIL.DAT Test.Tail-1 imported",
          "C:\\HASHED.TXT Test.Hash-1 imported", "C:\\ANYSIZE.TXT Test.AnySize-1 imported",
          "C:\\ENTRY.EXE Test.Entry-1 imported", "C:\\PACK.ZIP!INNER.DAT Test.Anywhere-1 imported",
          "C:\\STREAM.DOC Test.Stream-1 imported", "C:\\ANYSTREAM.DOC Test.Anywhere-1 imported",
          "C:\\EICAR.COM EICAR-Test-File - (id below 65536)"}));
  EXPECT_NE(outcome.out.find("C:\\\\ANY.DAT Infetto da Test.Anywhere-1"), std::string::npos);
}

TEST_F(QuarnscanImported, ADamagedExtraDatabaseIsToldAndTheScanRunsOnTheOthers) {
  const std::string data = DataWithImports();
  std::string extra = ReadFile(data + "/QUARNX.DAT");
  extra[extra.size() / 2] ^= 0x40;
  WriteFile(data + "/QUARNX.DAT", extra);
  Put("EICAR.COM", "eicar.com");
  PutBytes("ANY.DAT", Padded(10, kAnywhere, 10));
  const Outcome outcome = Scan({"--json", "--files", "all", "--data-dir", data, "C:"});
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_NE(outcome.err.find(data + "/QUARNX.DAT: "), std::string::npos) << outcome.err;
  EXPECT_EQ(Detections(outcome),
            std::set<std::string>{"C:\\EICAR.COM EICAR-Test-File - (id below 65536)"});
}

// "41 00" at 300,000 places, then "41 42" 280 bytes on: clamscan finds nothing. Test.Bound-1
// is refused exactly; each of Test.Budget-1's 64 wide gaps reaches 300,000 places whose
// bytes are tested, more than a scan's budget of byte tests.
std::vector<uint8_t> PastTheVerifiersBound() {
  std::vector<uint8_t> bytes;
  for (int pair = 0; pair < 300000; ++pair) bytes.insert(bytes.end(), {0x41, 0x00});
  bytes.resize(bytes.size() + 280);
  bytes.insert(bytes.end(), {0x41, 0x42});
  return bytes;
}

TEST_F(QuarnscanImported, AVerificationPastItsBoundLeavesTheFileIncompleteNeverClean) {
  const std::string data = DataWithImports();
  PutBytes("WIDE.DAT", PastTheVerifiersBound());
  PutBytes("WIDE.ZIP", testing::ZipWriter().Add("INNER.DAT", PastTheVerifiersBound()).Build());
  const Outcome outcome = Scan({"--json", "--files", "all", "--data-dir", data, "C:"});
  EXPECT_EQ(outcome.exit_code, 0) << outcome.err;
  std::set<std::string> incomplete;
  for (const json& event : outcome.EventsOf("incomplete")) {
    incomplete.insert(event.value("path", "") + " " + event.value("reason", "") + " " +
                      event.value("layers", json::array()).dump());
  }
  EXPECT_EQ(incomplete,
            (std::set<std::string>{
                "C:\\WIDE.DAT verify []",
                "C:\\WIDE.ZIP!INNER.DAT verify [{\"kind\":\"zip\",\"name\":\"INNER.DAT\"}]"}));
  EXPECT_EQ(outcome.EventsOf("summary").back().value("incomplete", -1), 2);
  EXPECT_NE(outcome.out.find("Non analizzato: C:\\\\WIDE.DAT (verifica"), std::string::npos);
}

}  // namespace
}  // namespace quarn
