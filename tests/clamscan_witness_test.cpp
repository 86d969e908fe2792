// clamscan as the witness of what imported signatures find: the same .ndb and .hdb files
// given to clamscan and imported into quarnscan must flag the same files of a generated tree,
// where each signature is planted where its rule allows and, in as many files, one byte off.
// ClamAV's own test executable is mapped alike. clamscan and ClamAV's test files are packages
// of the full test run only: without them the tests skip.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "engine/test_support/compound_file_writer.h"
#include "engine/test_support/executable_builder.h"
#include "platform/test_support/tool_witness.h"
#include "tests/quarnscan_runner.h"

namespace quarn {
namespace {

using namespace e2e;  // NOLINT(google-build-using-namespace): the runner is this file's vocabulary

// One signature's planting: where its bytes go in a file of `size` bytes (`exact`), where
// they miss by one (`off`; without it, `near` goes where they match), and what kind of file
// carries them.
enum class Carrier { kPlain, kDos, kPe, kDocument, kWordMacro };
struct Planted {
  std::string name;
  std::string target;          // "0", "1", "2" or "*"
  std::string offset;          // the record's offset field
  std::vector<uint8_t> found;  // the bytes that match
  std::vector<uint8_t> near;   // bytes that do not, for a rule that has no place to miss
  std::string hex;             // the record's pattern; `found` in hex when empty
  Carrier carrier = Carrier::kPlain;
  std::function<size_t(size_t size)> exact;
  std::function<size_t(size_t size)> off;
  std::string levels;     // ":MinFL[:MaxFL]" after the pattern, or nothing
  bool withheld = false;  // left by both: withdrawn, or for another functionality level
  testing::PeBuilder pe;  // the image a PE carrier is built from
};

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string hex;
  for (uint8_t byte : bytes) {
    hex += digits[byte >> 4];
    hex += digits[byte & 15];
  }
  return hex;
}

// The generated tree's bytes are random but for what is planted; the marks are kept out of
// the random bytes by their first byte, which random bytes never take.
constexpr uint8_t kMarkLead = 0xF7;
std::vector<uint8_t> Mark(uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> mark = {kMarkLead};
  for (int i = 0; i < 11; ++i) mark.push_back(static_cast<uint8_t>(random() % 0xF0));
  return mark;
}

std::vector<uint8_t> Noise(std::mt19937& random, size_t size) {
  std::vector<uint8_t> bytes(size);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random() % 0xF0);
  return bytes;
}

void Place(std::vector<uint8_t>& bytes, size_t at, const std::vector<uint8_t>& mark) {
  std::copy(mark.begin(), mark.end(), bytes.begin() + static_cast<ptrdiff_t>(at));
}

constexpr size_t kPeEntry = 0x200;  // the entry point's file offset in PeBuilder's default

std::vector<Planted> Plantings() {
  std::vector<Planted> all;
  auto add = [&](std::string name, std::string target, std::string offset, Carrier carrier,
                 std::function<size_t(size_t)> exact, std::function<size_t(size_t)> off,
                 std::string levels = "", bool withheld = false) {
    std::vector<uint8_t> mark = Mark(static_cast<uint32_t>(all.size() + 1));
    std::vector<uint8_t> near = mark;
    near.back() ^= 1;
    all.push_back({std::move(name), std::move(target), std::move(offset), mark, near, "", carrier,
                   std::move(exact), std::move(off), std::move(levels), withheld});
  };
  add(
      "Witness.Anywhere", "0", "*", Carrier::kPlain, [](size_t size) { return size / 3; }, nullptr);
  add(
      "Witness.Absolute", "0", "100", Carrier::kPlain, [](size_t) { return 100; },
      [](size_t) { return 101; });
  add(
      "Witness.Range", "0", "200,50", Carrier::kPlain, [](size_t) { return 250; },
      [](size_t) { return 251; });
  add(
      "Witness.Tail", "0", "EOF-40", Carrier::kPlain, [](size_t size) { return size - 40; },
      [](size_t size) { return size - 41; });
  add(
      "Witness.Entry", "1", "EP+0", Carrier::kPe, [](size_t) { return kPeEntry; },
      [](size_t) { return kPeEntry + 1; });
  // Patterns for PE files are looked for in every "MZ" file, a DOS program too.
  add(
      "Witness.DosProgram", "1", "*", Carrier::kDos, [](size_t size) { return size / 2; }, nullptr);
  // The loader's view: an entry point in the headers is its own offset; a raw pointer is
  // rounded down to the file alignment (0x610 is read at 0x600) and a raw size up (an entry
  // point past SizeOfRawData 0x1F0 still lies in the section).
  add(
      "Witness.HeaderEntry", "1", "EP+0", Carrier::kPe, [](size_t) { return 0x40; },
      [](size_t) { return 0x41; });
  all.back().pe = testing::PeBuilder().SizeOfHeaders(0x400).EntryPoint(0x40);
  const testing::PeBuilder unaligned = testing::PeBuilder().AddSection(0x2000, 0x200, 0x610, 0x1F0);
  add(
      "Witness.RoundedSection", "1", "S1+0", Carrier::kPe, [](size_t) { return 0x600; },
      [](size_t) { return 0x610; });
  all.back().pe = unaligned;
  add(
      "Witness.RoundedEntry", "1", "EP+0", Carrier::kPe, [](size_t) { return 0x7F4; },
      [](size_t) { return 0x7F5; });
  all.back().pe = testing::PeBuilder(unaligned).EntryPoint(0x21F4);
  add(
      "Witness.Stream", "2", "*", Carrier::kDocument, [](size_t) { return 505; }, nullptr);
  add(
      "Witness.WordMacro", "2", "*", Carrier::kWordMacro, [](size_t) { return 40; }, nullptr);
  // Forms clamscan takes: a target written "*", a name with a space, levels this engine is in.
  add(
      "Witness.Any Target", "*", "*", Carrier::kPlain, [](size_t size) { return size / 2; },
      nullptr, ":10:216");
  // Left by both: for a later engine, for an earlier one, withdrawn by witness.ign2.
  add(
      "Witness.Later", "0", "*", Carrier::kPlain, [](size_t size) { return size / 2; }, nullptr,
      ":217", true);
  add(
      "Witness.Earlier", "0", "*", Carrier::kPlain, [](size_t size) { return size / 2; }, nullptr,
      ":10:215", true);
  add(
      "Witness.Withdrawn", "0", "*", Carrier::kPlain, [](size_t size) { return size / 2; }, nullptr,
      "", true);
  return all;
}

class ClamscanWitness : public QuarnscanCli {
 protected:
  // Writes the tree and returns the files that carry a planting where it matches.
  std::set<std::string> WriteTree(const std::vector<Planted>& plantings) {
    std::mt19937 random(20261207);
    std::set<std::string> expected;
    int number = 0;
    auto put = [&](const std::vector<uint8_t>& bytes, bool infected) {
      const std::string name = "F" + std::to_string(number++) + ".BIN";
      WriteFile(tree_ + "/" + name, Text(bytes));
      if (infected) expected.insert(name);
    };
    for (const Planted& planted : plantings) {
      for (int copy = 0; copy < 4; ++copy) {
        for (bool exact : {true, false}) {
          const size_t size = 600 + random() % 3000;
          std::vector<uint8_t> bytes = Noise(random, size);
          if (planted.carrier == Carrier::kPlain) {
            if (!exact && !planted.off) {
              Place(bytes, planted.exact(size), planted.near);
            } else {
              Place(bytes, exact ? planted.exact(size) : planted.off(size), planted.found);
            }
            put(bytes, exact && !planted.withheld);
          } else if (planted.carrier == Carrier::kDos) {
            // The same bytes after "ZM" are no executable of that target.
            Place(bytes, planted.exact(size), planted.found);
            bytes[0] = exact ? 'M' : 'Z';
            bytes[1] = exact ? 'Z' : 'M';
            put(bytes, exact);
          } else if (planted.carrier == Carrier::kPe) {
            const size_t at = exact ? planted.exact(size) : planted.off(size);
            put(testing::PeBuilder(planted.pe).Code(at, planted.found).Size(0x800).Build(), exact);
          } else if (planted.carrier == Carrier::kWordMacro) {
            // In a Word 6 macro's text, which the document holds enciphered with the macro's
            // key: only the deciphered text carries the clear bytes. clamscan reads macros of
            // a "WordDocument" stream in regular sectors, not in the mini stream.
            constexpr uint8_t kKey = 0x5A;
            std::vector<uint8_t> text = Noise(random, 4500);
            Place(text, planted.exact(size), exact ? planted.found : planted.near);
            for (uint8_t& byte : text) byte ^= kKey;
            put(testing::CompoundFileWriter()
                    .AddStream("WordDocument",
                               testing::WordDocumentStream().AddMacro(text, kKey).Build())
                    .Build(),
                exact);
          } else {
            // In a stream's bytes, across the end of its first sector; as plain bytes a file
            // that is not a compound document carries it too, and must not be flagged.
            std::vector<uint8_t> stream = Noise(random, 6000);
            Place(stream, planted.exact(size), planted.found);
            put(exact ? testing::CompoundFileWriter().AddStream("Data", stream).Build() : stream,
                exact);
          }
        }
      }
    }
    // Hashes: one file whose MD5 and size are recorded, one with the same bytes and one more,
    // one whose MD5 is recorded for any size.
    hashed_ = Noise(random, 777);
    put(hashed_, true);
    std::vector<uint8_t> longer = hashed_;
    longer.push_back(0);
    put(longer, false);
    put(Noise(random, 555), true);
    return expected;
  }

  std::string WriteRecords(const std::vector<Planted>& plantings, const std::string& md5,
                           const std::string& any_size_md5) {
    const std::string folder = scratch_.Child("clamav");
    fs::create_directories(folder);
    std::string ndb;
    for (const Planted& planted : plantings) {
      ndb += planted.name + ":" + planted.target + ":" + planted.offset + ":" +
             (planted.hex.empty() ? Hex(planted.found) : planted.hex) + planted.levels + "\n";
    }
    WriteFile(folder + "/witness.ndb", ndb);
    WriteFile(folder + "/witness.hdb",
              md5 + ":" + std::to_string(hashed_.size()) + ":Witness.Hash:10:216\n" + md5 + ":" +
                  std::to_string(hashed_.size()) + ":Witness.HashLater:300\n" + any_size_md5 +
                  ":*:Witness.AnySize:73\n");
    WriteFile(folder + "/witness.ign2", "Witness.Withdrawn\n");
    return folder;
  }

  // The files of the tree that clamscan and quarnscan flag with the records in `records`,
  // quarnscan's with an import into a copy of the data folder named `data`.
  std::pair<std::set<std::string>, std::set<std::string>> Flagged(const std::string& records,
                                                                  const std::string& data) {
    // clamscan prints "PATH: NAME.UNOFFICIAL FOUND" for each file it flags.
    const testing::ToolRun clamscan = testing::RunIn(
        tree_, "clamscan --no-summary --infected -d " + testing::Quoted(records) + " .");
    EXPECT_EQ(clamscan.status >> 8, 1) << clamscan.output;
    std::set<std::string> by_clamscan;
    std::istringstream lines(clamscan.output);
    for (std::string line; std::getline(lines, line);) {
      if (line.size() < 6 || line.substr(line.size() - 6) != " FOUND") continue;
      by_clamscan.insert(line.substr(2, line.find(':') - 2));  // after "./"
    }
    const Outcome outcome =
        Scan({"--json", "--files", "all", "--data-dir", DataImporting(records, data), "C:"});
    std::set<std::string> by_quarnscan;
    for (const json& event : outcome.EventsOf("detection")) {
      by_quarnscan.insert(event.value("path", "").substr(3));  // after "C:\\"
    }
    return {by_clamscan, by_quarnscan};
  }

  std::vector<uint8_t> hashed_;
};

std::string Md5Of(const std::string& path) {
  const testing::ToolRun run = testing::RunIn("/", "md5sum " + testing::Quoted(path));
  return run.output.substr(0, 32);
}

TEST_F(ClamscanWitness, ClamscanAndQuarnscanFlagTheSameFiles) {
  if (testing::RunIn("/", "command -v clamscan").status != 0) {
    GTEST_SKIP() << "clamscan is installed by ./test.sh --full only";
  }
  const std::vector<Planted> plantings = Plantings();
  const std::set<std::string> expected = WriteTree(plantings);
  const auto hashed_path = [&](size_t after) {
    return tree_ + "/F" + std::to_string(plantings.size() * 8 + after) + ".BIN";
  };
  const std::string records = WriteRecords(plantings, Md5Of(hashed_path(0)), Md5Of(hashed_path(2)));

  const auto [by_clamscan, by_quarnscan] = Flagged(records, "data");
  EXPECT_EQ(by_clamscan, expected);
  EXPECT_EQ(by_quarnscan, by_clamscan);
}

// ClamAV's own test executable has its one section's raw data at offset 1 and 0x200 bytes,
// its entry point 0x40 bytes into that section: clamscan reads the section at offset 0 and
// the entry point at 0x40, and sigtool hashes the section's 0x200 bytes from offset 0.
TEST_F(ClamscanWitness, ClamavsTestExecutableIsMappedAsClamscanMapsIt) {
  const std::string executable = "/usr/share/clamav-testfiles/clam.exe";
  if (testing::RunIn("/", "command -v clamscan").status != 0 || !fs::exists(executable)) {
    GTEST_SKIP() << "clamscan and clamav-testfiles are installed by ./test.sh --full only";
  }
  fs::copy_file(executable, tree_ + "/CLAM.EXE");
  const std::string text = ReadFile(executable);
  const std::vector<uint8_t> bytes(text.begin(), text.end());
  const auto hex_at = [&](size_t at) { return Hex({bytes.begin() + at, bytes.begin() + at + 16}); };
  // sigtool writes "Section{0}: SIZE:MD5" among its messages.
  const testing::ToolRun sigtool =
      testing::RunIn("/", "sigtool --mdb " + testing::Quoted(executable) + " 2>&1");
  const size_t section = sigtool.output.find("Section{0}: ");
  ASSERT_NE(section, std::string::npos) << sigtool.output;
  const std::string size_and_hash =
      sigtool.output.substr(section + 12, sigtool.output.find('\n', section) - section - 12);
  EXPECT_EQ(size_and_hash.substr(0, 4), "512:");

  const std::pair<std::string, std::string> records[] = {
      {"witness.ndb", "Witness.ClamEntry:1:EP+0:" + hex_at(0x40)},
      {"witness.ndb", "Witness.ClamSection:1:S0+16:" + hex_at(16)},
      {"witness.mdb", size_and_hash + ":Witness.ClamSectionHash"},
  };
  int round = 0;
  for (const auto& [file, record] : records) {
    SCOPED_TRACE(record);
    const std::string folder = scratch_.Child("clamav" + std::to_string(++round));
    fs::create_directories(folder);
    WriteFile(folder + "/" + file, record + "\n");
    const auto [by_clamscan, by_quarnscan] = Flagged(folder, "data" + std::to_string(round));
    EXPECT_EQ(by_clamscan, std::set<std::string>{"CLAM.EXE"});
    EXPECT_EQ(by_quarnscan, by_clamscan);
  }
}

}  // namespace
}  // namespace quarn
