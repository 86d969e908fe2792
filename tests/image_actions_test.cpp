// Actions inside disk images, all or nothing. quarnscan cleans, deletes and renames inside
// every kind of volume, and the tools are the witnesses: fsck.fat finds no error, mtools
// reads back what the same action gives on the host, and no removed byte is left anywhere
// in the image. Then faults and kills: whatever fails or stops the scan, the image is the
// old one or the new one, byte for byte, and the next scan leaves no working copy.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <random>
#include <set>
#include <thread>
#include <unordered_set>

#include "containers/disks/disk_image_opener.h"
#include "dbtool/database_files.h"
#include "platform/test_support/memory_file_system.h"
#include "platform/posix_folder.h"
#include "shell/scan_driver.h"
#include "containers/test_support/fat_image_writer.h"
#include "engine/test_support/recording_interface.h"
#include "platform/test_support/tool_witness.h"
#include "tests/quarnscan_runner.h"

namespace quarn {
namespace {

using namespace e2e;  // NOLINT(google-build-using-namespace): the runner is this file's vocabulary
using testing::AlignedPieces;
using testing::FatImageWriter;
using testing::PiecesFound;
using testing::Quoted;
using testing::RunIn;
using testing::ToolRun;

// The infected files every image holds, each with a clean record, and where they lie.
struct Victim {
  std::string name;
  std::string sample;
};

const std::vector<Victim> kVictims = {
    {"VICTIM.COM", "com_clean_append.com"},
    {"Long Victim Name.exe", "exe_clean_scheme1.exe"},
    {"PREPEND.COM", "com_prepended.com"},
};
const std::vector<uint8_t> kKeptText(700, 'k');

struct VolumeCase {
  std::string name;
  testing::FatLayout layout;
  std::string folder;  // where the files lie: "" for the root
  enum Placement { kWholeImage, kPrimary, kLogical } placement = kWholeImage;
  bool fragment = false;
};

void PrintTo(const VolumeCase& row, std::ostream* out) {
  *out << row.name;
}

std::string In(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : folder + "/" + name;
}

struct BuiltImage {
  std::vector<uint8_t> bytes;
  uint64_t volume_offset = 0;
};

// The files on the volume, placed in its image as the row says; a logical drive comes after
// a primary partition of its own, so the scan changes the image's second volume.
BuiltImage BuildVolumeImage(const VolumeCase& row) {
  FatImageWriter writer(row.layout);
  if (!row.folder.empty()) writer.AddFolder(row.folder);
  for (const Victim& victim : kVictims) {
    writer.AddFile(In(row.folder, victim.name), SampleNamed(victim.sample).bytes);
  }
  writer.AddFile(In(row.folder, "KEEP.TXT"), kKeptText);
  if (row.fragment) writer.Fragment();
  std::vector<uint8_t> volume = writer.Build();
  constexpr uint64_t kTrack = 63 * 512;
  testing::PartitionedImageBuilder disk;
  switch (row.placement) {
    case VolumeCase::kWholeImage:
      return {volume, 0};
    case VolumeCase::kPrimary:
      return {disk.Primary(0x06, volume).Build(), kTrack};
    case VolumeCase::kLogical:
      break;
  }
  std::vector<uint8_t> bytes =
      disk.Primary(0x01, FatImageWriter(testing::FloppyLayout(720)).Build())
          .Logical(0x06, volume)
          .Build();
  return {bytes, uint64_t{disk.ExtendedRecords()[0]} * 512 + kTrack};
}

std::vector<VolumeCase> VolumeCases() {
  return {
      {"floppy_1440", testing::FloppyLayout(1440), "", VolumeCase::kWholeImage, false},
      {"dmf_1680", testing::FloppyLayout(1680), "GAMES", VolumeCase::kWholeImage, false},
      {"fat16", testing::HardDiskLayout(16, 8400, 1), "DOS", VolumeCase::kWholeImage, false},
      {"fat32", testing::HardDiskLayout(32, 67000, 1), "DOS/UTIL", VolumeCase::kWholeImage, false},
      {"primary_partition", testing::HardDiskLayout(16, 32768, 4), "DOS", VolumeCase::kPrimary,
       false},
      {"logical_drive", testing::HardDiskLayout(16, 8400, 1), "", VolumeCase::kLogical, false},
      {"fragmented", testing::FloppyLayout(1440), "", VolumeCase::kWholeImage, true},
  };
}

std::vector<uint8_t> BytesOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::map<std::string, std::vector<uint8_t>> FilesIn(const std::string& folder) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    files[entry.path().filename().string()] = BytesOf(entry.path().string());
  }
  return files;
}

// Whether a working copy (".NAME.quarn-XXXXXX") is left in `folder`.
bool CopyLeftIn(const std::string& folder) {
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name[0] == '.' && name.find(".quarn-") != std::string::npos) return true;
  }
  return false;
}

std::vector<std::string> NamesIn(MemoryFileSystem& files, const std::string& folder) {
  std::vector<std::string> names;
  auto listing = (*files.OpenFolder(folder))->List();
  for (const FolderEntry& entry : *listing) names.push_back(entry.name);
  return names;
}

class ImageActionsTest : public QuarnscanCli, public ::testing::WithParamInterface<VolumeCase> {
 protected:
  // What `action` leaves of the victims and the kept file in a host folder.
  std::map<std::string, std::vector<uint8_t>> OnTheHost(const std::string& action) {
    const std::string folder = scratch_.Child("host-" + action);
    fs::create_directories(folder);
    for (const Victim& victim : kVictims) {
      PutBytes(folder + "/" + victim.name, SampleNamed(victim.sample).bytes);
    }
    PutBytes(folder + "/KEEP.TXT", kKeptText);
    const Outcome outcome = Scan({"--action", action, folder});
    EXPECT_EQ(outcome.exit_code, 1) << outcome.err;
    return FilesIn(folder);
  }

  static void PutBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
  }
};

TEST_P(ImageActionsTest, ActionsInsideMatchTheHostAndLeaveAVolumeTheToolsAccept) {
  const VolumeCase& row = GetParam();
  std::unordered_set<std::string> infected;
  for (const Victim& victim : kVictims) {
    infected.merge(AlignedPieces(SampleNamed(victim.sample).bytes));
  }
  for (const std::string action : {"clean", "delete", "rename"}) {
    SCOPED_TRACE(action);
    const std::map<std::string, std::vector<uint8_t>> expected = OnTheHost(action);
    const std::string image = scratch_.Child(row.name + "-" + action + ".img");
    const BuiltImage built = BuildVolumeImage(row);
    PutBytes(image, built.bytes);
    const Outcome outcome = Scan({"--action", action, "--json", image});
    EXPECT_EQ(outcome.exit_code, 1) << outcome.err;
    size_t done = 0;
    for (const json& event : outcome.EventsOf("action")) done += event.value("ok", false);
    EXPECT_EQ(done, kVictims.size()) << outcome.out;
    EXPECT_FALSE(CopyLeftIn(scratch_.path()));

    // The volume alone, for fsck.fat, which reads no partition table.
    const std::vector<uint8_t> bytes = BytesOf(image);
    const std::vector<uint8_t> volume(bytes.begin() + static_cast<ptrdiff_t>(built.volume_offset),
                                      bytes.end());
    PutBytes(scratch_.Child("volume.img"), volume);
    const ToolRun check = RunIn(scratch_.path(), "fsck.fat -n volume.img");
    EXPECT_EQ(check.status, 0) << check.output;

    const std::string source = Quoted(image + "@@" + std::to_string(built.volume_offset));
    const ToolRun listing = RunIn(scratch_.path(), "mdir -b -i " + source + " ::/" + row.folder);
    std::set<std::string> names;
    std::istringstream lines(listing.output);
    for (std::string line; std::getline(lines, line);) {
      if (!line.empty() && line.back() != '/') names.insert(line.substr(line.rfind('/') + 1));
    }
    std::set<std::string> expected_names;
    for (const auto& [name, content] : expected) expected_names.insert(name);
    EXPECT_EQ(names, expected_names) << listing.output;
    std::unordered_set<std::string> kept;
    for (const auto& [name, content] : expected) {
      const ToolRun copied =
          RunIn(scratch_.path(),
                "mcopy -n -i " + source + " " + Quoted("::/" + In(row.folder, name)) + " back.bin");
      EXPECT_EQ(copied.status, 0) << copied.output;
      std::ifstream back(scratch_.Child("back.bin"), std::ios::binary);
      EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(back), {}), content) << name;
      kept.merge(AlignedPieces(content));
    }
    std::unordered_set<std::string> removed;
    for (const std::string& piece : infected) {
      if (!kept.count(piece) && piece != std::string(16, '\0')) removed.insert(piece);
    }
    EXPECT_EQ(PiecesFound(volume, removed), 0u) << "bytes a " << action << " removed";
    fs::remove(image);
  }
}

INSTANTIATE_TEST_SUITE_P(Volumes, ImageActionsTest, ::testing::ValuesIn(VolumeCases()),
                         [](const auto& info) { return info.param.name; });

using ImageNamesTest = QuarnscanCli;

// Entries that a name or a path would take for others: two entries of one name, the clean one
// first and the infected one first; a long name holding "/" beside the folders it spells; one
// holding an escape and a line feed. Each entry is scanned as itself, shown with U+FFFD for
// what no name may hold; their folders are damage, so nothing is deleted and the images stay
// as they were.
TEST_F(ImageNamesTest, NamesThatPointAtOtherEntriesAreDamageAndNothingIsDeleted) {
  const std::vector<uint8_t> virus = SampleNamed("com_clean_append.com").bytes;
  FatImageWriter twins(testing::FloppyLayout(1440));
  twins.AddFile("TWIN.COM", kKeptText)
      .AddFile("TWIN2.COM", virus)
      .AddFile("SUB/TWIN.COM", virus)
      .AddFile("SUB/TWIN2.COM", kKeptText);
  std::vector<uint8_t> twins_image = twins.Build();
  twins.SetShortName(twins_image, "TWIN2.COM", "TWIN    COM");
  twins.SetShortName(twins_image, "SUB/TWIN2.COM", "TWIN    COM");
  FatImageWriter named(testing::FloppyLayout(1440));
  named.AddFile("Documents/Old/X.COM", kKeptText)
      .AddFile("DocumentsXOld/X.COM", virus)
      .AddFile("Escape-Line_Feed.com", virus);
  std::vector<uint8_t> named_image = named.Build();
  named.ReplaceInLongName(named_image, "DocumentsXOld", u'X', u'/');
  named.ReplaceInLongName(named_image, "Escape-Line_Feed.com", u'-', u'\x1B');
  named.ReplaceInLongName(named_image, "Escape-Line_Feed.com", u'_', u'\n');
  const std::string twins_path = tree_ + "/TWINS.IMG";
  const std::string named_path = tree_ + "/NAMED.IMG";
  WriteFile(twins_path, Text(twins_image));
  WriteFile(named_path, Text(named_image));
  const ToolRun check = RunIn(tree_, "fsck.fat -n TWINS.IMG");
  EXPECT_NE(check.output.find("Duplicate directory entry"), std::string::npos) << check.output;

  const Outcome outcome = Scan({"--action", "delete", "--json", tree_});
  EXPECT_EQ(outcome.exit_code, 1) << outcome.err;
  const std::string kMark = "\xEF\xBF\xBD";
  std::multiset<std::string> detected;
  for (const json& event : outcome.EventsOf("detection")) detected.insert(event.value("path", ""));
  EXPECT_EQ(detected, (std::multiset<std::string>{
                          "C:\\TWINS.IMG!A:\\TWIN.COM",
                          "C:\\TWINS.IMG!A:\\SUB\\TWIN.COM",
                          "C:\\NAMED.IMG!A:\\Documents" + kMark + "Old\\X.COM",
                          "C:\\NAMED.IMG!A:\\Escape" + kMark + "Line" + kMark + "Feed.com",
                      }));
  for (const json& event : outcome.EventsOf("action")) EXPECT_FALSE(event.value("ok", true));
  std::multiset<std::string> damaged;
  for (const json& event : outcome.EventsOf("incomplete")) {
    damaged.insert(event.value("path", "") + " " + event.value("reason", ""));
  }
  EXPECT_EQ(damaged,
            (std::multiset<std::string>{"C:\\TWINS.IMG!A: damaged", "C:\\TWINS.IMG!A:\\SUB damaged",
                                        "C:\\NAMED.IMG!A: damaged"}));
  EXPECT_EQ(BytesOf(twins_path), twins_image);
  EXPECT_EQ(BytesOf(named_path), named_image);
}

// A scan run in this process over `folder` of `files`, which holds the image `name`.
struct ImageScan {
  const DatabaseImage& signatures;
  const DatabaseImage& names;
  ScanCounters Run(FileSystem& files, const std::string& folder, const std::string& name,
                   uint32_t action, testing::RecordingInterface& ui) const {
    ScanLog log;
    ScanOptions options;
    options.scan_action = action;
    ScanSession session(signatures, names, log, ui, Language::kEnglish, options);
    DiskImageOpener opener;
    session.set_containers(&opener, ContainerLimits{});
    RunScan(session, files, {ScanRoot{folder, folder, ResultIcon::kHardDisk, name}});
    return session.counters();
  }
};

class ImageAllOrNothingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto pair = ReadDatabasePair(*OpenPosixFileSystem(), QUARN_DATA_DIR);
    ASSERT_TRUE(pair.ok()) << pair.message();
    signatures_ = DatabaseImage(pair->signatures);
    names_ = DatabaseImage(pair->names);
  }

  static std::vector<uint8_t> Image() {
    return BuildVolumeImage(
               {"floppy", testing::FloppyLayout(1440), "DOS", VolumeCase::kWholeImage, false})
        .bytes;
  }

  ImageScan scan() const { return ImageScan{signatures_, names_}; }

  DatabaseImage signatures_;
  DatabaseImage names_;
};

// Every write, flush, cut and rename of a scan that cleans three files in one image, failed
// in turn: the image is the old one or the new one, the counters say which, and no
// working copy stays.
TEST_F(ImageAllOrNothingTest, AFailureAnywhereLeavesTheOldImageOrTheNewOne) {
  const std::vector<uint8_t> old_image = Image();
  std::vector<uint8_t> new_image;
  {
    MemoryFileSystem files;
    files.AddFile("/d/DISK.IMG", old_image);
    testing::RecordingInterface ui;
    ASSERT_EQ(scan().Run(files, "/d", "DISK.IMG", kActionCleanAuto, ui).cleaned, kVictims.size());
    new_image = *files.ReadFileBytes("/d/DISK.IMG");
    ASSERT_NE(new_image, old_image);
  }
  int old_kept = 0;
  int new_kept = 0;
  for (FileOperation operation : {FileOperation::kWrite, FileOperation::kFlush,
                                  FileOperation::kSetEndOfFile, FileOperation::kRename}) {
    for (int nth = 1;; ++nth) {
      SCOPED_TRACE(std::to_string(static_cast<int>(operation)) + " #" + std::to_string(nth));
      MemoryFileSystem files;
      files.AddFile("/d/DISK.IMG", old_image);
      files.FailCall(operation, nth);
      testing::RecordingInterface ui;
      const ScanCounters counters = scan().Run(files, "/d", "DISK.IMG", kActionCleanAuto, ui);
      const bool reached = files.CallCount(operation) >= nth;
      files.ClearFaults();
      const std::vector<uint8_t> left = *files.ReadFileBytes("/d/DISK.IMG");
      const bool is_old = left == old_image;
      ASSERT_TRUE(is_old || left == new_image) << "a mixed image";
      EXPECT_EQ(counters.cleaned, is_old ? 0u : kVictims.size());
      EXPECT_EQ(NamesIn(files, "/d"), std::vector<std::string>{"DISK.IMG"});
      if (!reached) break;
      (is_old ? old_kept : new_kept) += 1;
      // A failure that undid the cleans says so; a clean that never started needs no word.
      if (is_old && counters.infected == kVictims.size()) {
        EXPECT_FALSE(ui.messages.empty());
      }
    }
  }
  std::printf("faults that kept the old image: %d, the new one: %d\n", old_kept, new_kept);
  EXPECT_GT(old_kept, 0);
}

// An image that cannot change is told per file, with no question and no message box, and
// stays as it was.
TEST_F(ImageAllOrNothingTest, AnImageThatCannotChangeIsRefusedFileByFileWithoutAQuestion) {
  const testing::FatLayout layout = testing::FloppyLayout(1440);
  std::vector<uint8_t> fats_differ = Image();
  fats_differ[(layout.reserved_sectors + layout.sectors_per_fat) * layout.bytes_per_sector + 500] ^=
      0x5A;
  struct Case {
    std::string name;
    std::vector<uint8_t> image;
    std::function<void(MemoryFileSystem&)> prepare;
  };
  const std::vector<Case> cases = {
      {"another link", Image(),
       [](MemoryFileSystem& files) { ASSERT_TRUE(files.SetLinkCount("/d/DISK.IMG", 2)); }},
      {"read only", Image(),
       [](MemoryFileSystem& files) { ASSERT_TRUE(files.SetMode("/d/DISK.IMG", 0444)); }},
      {"FAT copies that differ", fats_differ, [](MemoryFileSystem&) {}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    MemoryFileSystem files;
    files.AddFile("/d/DISK.IMG", test.image);
    test.prepare(files);
    testing::RecordingInterface ui;
    ui.answers = {true, true, true};
    const ScanCounters counters = scan().Run(files, "/d", "DISK.IMG", kActionCleanAsk, ui);
    EXPECT_EQ(counters.infected, kVictims.size());
    EXPECT_EQ(counters.cleaned, 0u);
    size_t refused = 0;
    for (const ResultLine& line : ui.lines) {
      if (line.kind != ReportKind::kAction) continue;
      EXPECT_EQ(line.text, "Cannot be changed: " + line.path);
      EXPECT_FALSE(line.ok);
      ++refused;
    }
    EXPECT_EQ(refused, kVictims.size());
    EXPECT_TRUE(ui.questions.empty());
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(*files.ReadFileBytes("/d/DISK.IMG"), test.image);
    EXPECT_EQ(NamesIn(files, "/d"), std::vector<std::string>{"DISK.IMG"});
  }
}

// Answers every question Yes, and at the first one puts another file in the image's place.
class ReplacingInterface : public testing::RecordingInterface {
 public:
  ReplacingInterface(MemoryFileSystem& files, std::vector<uint8_t> replacement)
      : files_(files), replacement_(std::move(replacement)) {}
  bool Ask(std::string_view caption, std::string_view text) override {
    RecordingInterface::Ask(caption, text);
    if (questions.size() == 1) files_.AddFile("/d/DISK.IMG", replacement_);
    return true;
  }

 private:
  MemoryFileSystem& files_;
  std::vector<uint8_t> replacement_;
};

// Ten cleans in one image make one working copy; an image replaced during the scan is not
// overwritten, and the cleans in it are taken back.
TEST_F(ImageAllOrNothingTest, OneCopyTakesEveryCleanAndAReplacedImageIsNotOverwritten) {
  const testing::FatLayout layout = testing::FloppyLayout(1440);
  FatImageWriter writer(layout);
  for (int i = 0; i < 10; ++i) {
    writer.AddFile("VICTIM" + std::to_string(i) + ".COM",
                   SampleNamed("com_clean_append.com").bytes);
  }
  const std::vector<uint8_t> image = writer.Build();
  {
    MemoryFileSystem files;
    files.AddFile("/d/DISK.IMG", image);
    testing::RecordingInterface ui;
    EXPECT_EQ(scan().Run(files, "/d", "DISK.IMG", kActionCleanAuto, ui).cleaned, 10u);
    EXPECT_EQ(files.CallCount(FileOperation::kCreateFile), 1);
    EXPECT_EQ(files.CallCount(FileOperation::kRename), 1);
  }
  MemoryFileSystem files;
  files.AddFile("/d/DISK.IMG", image);
  const std::vector<uint8_t> replacement(image.size(), 'r');
  ReplacingInterface ui(files, replacement);
  const ScanCounters counters = scan().Run(files, "/d", "DISK.IMG", kActionCleanAsk, ui);
  EXPECT_EQ(counters.infected, 10u);
  EXPECT_EQ(counters.cleaned, 0u);
  EXPECT_EQ(ui.finished.back().cleaned, 0u) << "the counters came back before the totals";
  EXPECT_EQ(*files.ReadFileBytes("/d/DISK.IMG"), replacement);
  EXPECT_EQ(NamesIn(files, "/d"), std::vector<std::string>{"DISK.IMG"});
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find("/d/DISK.IMG"), std::string::npos) << ui.messages[0];
  ASSERT_EQ(ui.unshown.size(), 10u);
  for (const ResultLine& undone : ui.unshown) {
    EXPECT_EQ(undone.action, ActionKind::kClean);
    EXPECT_FALSE(undone.ok);
  }
}

// 20 kills at random moments of a scan that cleans three files in one image.
TEST_F(ImageAllOrNothingTest, AKillLeavesTheOldImageOrTheNewOneAndTheNextScanNoCopy) {
  ScratchFolder scratch;
  const std::string image = scratch.Child("DISK.IMG");
  const std::vector<uint8_t> old_image = Image();
  auto files = OpenPosixFileSystem();
  auto write_old = [&] {
    std::ofstream(image, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(old_image.data()),
               static_cast<std::streamsize>(old_image.size()));
  };
  auto read_image = [&] { return BytesOf(image); };
  auto clean = [&] {
    testing::RecordingInterface ui;
    return scan().Run(*files, scratch.path(), "DISK.IMG", kActionCleanAuto, ui);
  };
  write_old();
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(clean().cleaned, kVictims.size());
  const std::vector<uint8_t> new_image = read_image();
  int64_t bound = 3 * std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
  std::mt19937 random(2026);
  int killed_before = 0;
  int copies_left = 0;
  for (int run = 0; run < 20; ++run) {
    write_old();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      clean();
      _exit(0);
    }
    std::this_thread::sleep_for(
        std::chrono::microseconds(std::uniform_int_distribution<int64_t>(0, bound)(random)));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    const std::vector<uint8_t> left = read_image();
    const bool is_old = left == old_image;
    ASSERT_TRUE(is_old || left == new_image) << "run " << run << ": a mixed image";
    killed_before += is_old;
    // The delay follows what the kills hit, so that on a busy machine too they fall around
    // the replace: wider after one too early, narrower after one too late.
    bound = is_old ? std::min<int64_t>(bound * 3 / 2 + 50, 5'000'000)
                   : std::max<int64_t>(bound * 2 / 3, 20);
    copies_left += CopyLeftIn(scratch.path());
    clean();
    EXPECT_EQ(read_image(), new_image) << "run " << run;
    EXPECT_FALSE(CopyLeftIn(scratch.path())) << "run " << run;
  }
  std::printf("killed before the replace: %d of 20, with a working copy left: %d\n", killed_before,
              copies_left);
  EXPECT_GT(killed_before, 0);
}

}  // namespace
}  // namespace quarn
