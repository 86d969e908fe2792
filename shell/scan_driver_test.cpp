#include "shell/scan_driver.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "engine/database_builder.h"
#include "engine/section_directory.h"
#include "engine/test_support/recording_interface.h"
#include "platform/posix_folder.h"
#include "platform/test_support/memory_file_system.h"
#include "platform/test_support/scratch_folder.h"
#include "platform/test_support/test_bytes.h"

namespace quarn {
namespace {

using ::testing::ElementsAre;

// Asks for a stop when the line it waits for arrives, as the Stop command would.
class StoppingInterface : public testing::RecordingInterface {
 public:
  void AddResultLine(const ResultLine& line) override {
    RecordingInterface::AddResultLine(line);
    if (stop_on_detection && line.kind == ReportKind::kDetection) {
      session->stop_requested() = true;
    }
  }
  void EnterFolder(std::string_view path) override {
    RecordingInterface::EnterFolder(path);
    if (on_enter) on_enter(path);
  }
  ScanSession* session = nullptr;
  bool stop_on_detection = false;
  std::function<void(std::string_view)> on_enter;
};

class ScanDriverTest : public ::testing::Test {
 protected:
  ScanDriverTest() {
    DatabaseContent content;
    content.sections[kComEntrySection].records = {testing::EicarEntryRecord()};
    content.names = {{1, "EICAR-Test-File"}};
    signatures_ = DatabaseImage(*BuildSignatureImage(content));
    names_ = DatabaseImage(*BuildNameImage(content));
    files_.AddFolder("/c");
    files_.AddFolder("/data");
    auto data = files_.OpenFolder("/data");
    log_.Open(**data);
  }

  void Run(std::vector<ScanRoot> roots, uint32_t action = kActionReportOnly,
           uint32_t file_filter = 0) {
    RunOn(files_, std::move(roots), action, file_filter);
  }

  void RunOn(FileSystem& files, std::vector<ScanRoot> roots, uint32_t action,
             uint32_t file_filter = 0) {
    ScanOptions options;
    options.scan_action = action;
    options.file_filter = file_filter;
    session_ =
        std::make_unique<ScanSession>(signatures_, names_, log_, ui_, Language::kItalian, options);
    ui_.session = session_.get();
    RunScan(*session_, files, roots);
  }

  static ScanRoot Drive(std::string display = "C:", std::string host = "/c") {
    return ScanRoot{std::move(display), std::move(host), ResultIcon::kHardDisk, std::nullopt};
  }

  DatabaseImage signatures_;
  DatabaseImage names_;
  ScanLog log_;
  MemoryFileSystem files_;
  StoppingInterface ui_;
  std::unique_ptr<ScanSession> session_;
};

TEST_F(ScanDriverTest, TotalsDependOnTheAction) {
  Run({Drive()}, kActionReportOnly);
  EXPECT_THAT(ui_.Texts(), ElementsAre("[C:]", " ", " ", "Files Infetti: 0.", "Files Sospetti: 0.",
                                       "Files Analizzati: 0.", "Files Totali: 0.", " "));
  ui_.lines.clear();
  Run({Drive()}, kActionRenameAuto);
  EXPECT_EQ(ui_.Texts()[ui_.lines.size() - 2], "Files Rinominati: 0.");
}

TEST_F(ScanDriverTest, EntriesAreWalkedInByteOrder) {
  for (const char* name : {"b.com", "B.COM", "a.com", "_.com"}) {
    files_.AddFile(std::string("/c/") + name, testing::kEicarText);
  }
  Run({Drive()});
  std::vector<std::string> paths;
  for (const ResultLine& line : ui_.lines) {
    if (line.kind == ReportKind::kDetection) paths.push_back(line.host_path);
  }
  EXPECT_THAT(paths, ElementsAre("/c/B.COM", "/c/_.com", "/c/a.com", "/c/b.com"));
}

TEST_F(ScanDriverTest, TheProgressBarWrapsAfterTwentySteps) {
  for (int i = 0; i < 25; ++i) files_.AddFile("/c/F" + std::to_string(100 + i) + ".TXT", "x");
  Run({Drive()});
  ASSERT_EQ(ui_.progress.size(), 27u);
  EXPECT_EQ(ui_.progress[20], 20);
  EXPECT_EQ(ui_.progress[21], 0) << "past the end it starts again";
  EXPECT_EQ(ui_.progress[25], 4);
  EXPECT_EQ(ui_.progress.back(), 0);
}

TEST_F(ScanDriverTest, LinksOtherFileSystemsAndSpecialFilesAreLeftAlone) {
  files_.AddFolder("/elsewhere");
  files_.AddFile("/elsewhere/X.COM", testing::kEicarText);
  files_.AddLink("/c/LINK", "/elsewhere");
  files_.AddLink("/c/L.COM", "/elsewhere/X.COM");
  files_.AddFolder("/c/MNT");
  files_.AddFile("/c/MNT/Y.COM", testing::kEicarText);
  files_.SetDevice("/c/MNT", 99);
  files_.AddSpecial("/c/FIFO.COM");
  Run({Drive()});
  EXPECT_EQ(session_->counters().total, 0u);
  EXPECT_EQ(session_->counters().infected, 0u);
}

TEST_F(ScanDriverTest, AStopEndsTheWalkAndTheRootsButNotTheTotals) {
  files_.AddFile("/c/A.COM", testing::kEicarText);
  files_.AddFile("/c/B.COM", testing::kEicarText);
  files_.AddFolder("/d");
  files_.AddFile("/d/C.COM", testing::kEicarText);
  ui_.stop_on_detection = true;
  Run({Drive(), Drive("D:", "/d")});
  EXPECT_EQ(session_->counters().infected, 1u);
  EXPECT_EQ(session_->counters().total, 1u);
  const std::vector<std::string> texts = ui_.Texts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "[D:]"), 0);
  EXPECT_EQ(texts[texts.size() - 5], "Files Infetti: 1.");
}

TEST_F(ScanDriverTest, ARootThatCannotBeEnteredStillShowsItsBlockAndSaysWhy) {
  Run({Drive("E:", "/missing")});
  const std::vector<std::string> texts = ui_.Texts();
  EXPECT_THAT(std::vector<std::string>(texts.begin(), texts.begin() + 4),
              ElementsAre("[E:]", " ", "Non leggibile: E: (No such file or directory)", " "));
  EXPECT_EQ(session_->counters().unjudged, 1u);
}

// Files and folders the walk cannot open were never looked at: each is said, none counts as
// scanned, and a run with many of them shows a bounded number of lines.
TEST_F(ScanDriverTest, WhatCannotBeOpenedIsReportedAndNeverCountedAsScanned) {
  files_.AddFolder("/c/SUB");
  files_.AddFile("/c/SUB/Z.COM", testing::kEicarText);
  files_.AddFile("/c/A.COM", testing::kEicarText);
  files_.FailCall(FileOperation::kOpenFile, 1);
  files_.FailCall(FileOperation::kList, 2);  // the root's listing, then SUB's
  Run({Drive()});
  EXPECT_THAT(ui_.Texts(),
              ::testing::IsSupersetOf({"Non leggibile: C:\\A.COM (Input/output error)",
                                       "Non leggibile: C:\\SUB (Input/output error)"}));
  EXPECT_EQ(session_->counters().scanned, 0u);
  EXPECT_EQ(session_->counters().total, 1u);
  EXPECT_EQ(session_->counters().incomplete, 2u);
  EXPECT_EQ(session_->counters().unjudged, 2u);

  for (int i = 0; i < 102; ++i) files_.AddFile("/c/F" + std::to_string(100 + i) + ".COM", "x");
  files_.FailCall(FileOperation::kOpenFile, 1, /*and_after=*/true);
  ui_.lines.clear();
  Run({Drive()});
  const std::vector<std::string> texts = ui_.Texts();
  EXPECT_EQ(
      std::count_if(texts.begin(), texts.end(),
                    [](const std::string& text) { return text.rfind("Non leggibile", 0) == 0; }),
      100);
  EXPECT_THAT(texts, ::testing::Contains("… altri 4 non leggibili"));
  EXPECT_EQ(session_->counters().incomplete, 104u) << "A.COM, F100 to F201 and SUB\\Z.COM";
}

TEST_F(ScanDriverTest, ADeepTreeIsWalkedWithABoundedNumberOfOpenFolders) {
  // Each level holds its subfolder first and a file after it, so the file is reached only
  // after the walk comes back up through folders it had to close.
  std::string path = "/c";
  for (int depth = 0; depth < 100; ++depth) {
    files_.AddFile(path + "/Z.COM", testing::kEicarText);
    path += "/SUB";
    files_.AddFolder(path);
  }
  Run({Drive()});
  EXPECT_EQ(session_->counters().infected, 100u);
  EXPECT_EQ(ui_.lines.back().text, " ");
}

// A tree 40 folders deep, each level holding its subfolder SUB and an infected Z.COM, whose
// fourth level is moved out of the tree and replaced by a link to a folder outside it while
// the walk is at the bottom, with the outer levels closed. Built and changed in the same way
// on the in-memory twin and on the host.
class WalkedTree {
 public:
  virtual ~WalkedTree() = default;
  virtual void AddFolder(const std::string& path) = 0;
  virtual void AddFile(const std::string& path) = 0;
  virtual void Move(const std::string& from, const std::string& to) = 0;
  virtual void AddLink(const std::string& path, const std::string& target) = 0;
  virtual bool Exists(const std::string& path) = 0;
  virtual FileSystem& files() = 0;
  virtual std::string root() = 0;  // where /c, /outside and /elsewhere are made
};

class MemoryWalkedTree : public WalkedTree {
 public:
  void AddFolder(const std::string& path) override { files_.AddFolder(path); }
  void AddFile(const std::string& path) override { files_.AddFile(path, testing::kEicarText); }
  void Move(const std::string& from, const std::string& to) override {
    ASSERT_TRUE(files_.Move(from, to).ok());
  }
  void AddLink(const std::string& path, const std::string& target) override {
    files_.AddLink(path, target);
  }
  bool Exists(const std::string& path) override { return files_.Exists(path); }
  FileSystem& files() override { return files_; }
  std::string root() override { return ""; }

 private:
  MemoryFileSystem files_;
};

class HostWalkedTree : public WalkedTree {
 public:
  void AddFolder(const std::string& path) override { std::filesystem::create_directories(path); }
  void AddFile(const std::string& path) override {
    std::ofstream(path, std::ios::binary) << testing::kEicarText;
  }
  void Move(const std::string& from, const std::string& to) override {
    std::filesystem::rename(from, to);
  }
  void AddLink(const std::string& path, const std::string& target) override {
    std::filesystem::create_directory_symlink(target, path);
  }
  bool Exists(const std::string& path) override {
    return std::filesystem::exists(std::filesystem::symlink_status(path));
  }
  FileSystem& files() override { return *files_; }
  std::string root() override { return scratch_.path(); }

 private:
  ScratchFolder scratch_;
  std::unique_ptr<FileSystem> files_ = OpenPosixFileSystem();
};

TEST_F(ScanDriverTest, AFolderSwappedForALinkWhileClosedIsNeverLeftForTheLinksTarget) {
  for (bool on_host : {false, true}) {
    SCOPED_TRACE(on_host ? "host" : "in memory");
    std::unique_ptr<WalkedTree> tree;
    if (on_host) {
      tree = std::make_unique<HostWalkedTree>();
    } else {
      tree = std::make_unique<MemoryWalkedTree>();
    }
    const std::string base = tree->root();
    tree->AddFolder(base + "/outside");
    tree->AddFile(base + "/outside/Z.COM");
    tree->AddFolder(base + "/elsewhere");
    std::string path = base + "/c";
    std::vector<std::string> level_paths;
    for (int depth = 0; depth < 40; ++depth) {
      tree->AddFolder(path);
      tree->AddFile(path + "/Z.COM");
      level_paths.push_back(path);
      path += "/SUB";
    }
    const std::string swapped = level_paths[3];
    ui_.messages.clear();
    ui_.on_enter = [&, swapped_once = false](std::string_view display) mutable {
      if (swapped_once || std::count(display.begin(), display.end(), '\\') < 39) return;
      swapped_once = true;
      tree->Move(swapped, base + "/elsewhere/MOVED");
      tree->AddLink(swapped, base + "/outside");
    };
    RunOn(tree->files(), {Drive("C:", base + "/c")}, kActionDeleteAuto);
    ui_.on_enter = nullptr;

    EXPECT_TRUE(tree->Exists(base + "/outside/Z.COM")) << "a file outside the tree was deleted";
    // The moved folder is still the one listed: it and everything below it are walked.
    EXPECT_FALSE(tree->Exists(base + "/elsewhere/MOVED/Z.COM"));
    EXPECT_FALSE(tree->Exists(base + "/elsewhere/MOVED/SUB/SUB/Z.COM"));
    // Its old parent cannot be reached from it any more, nor can that folder's parents.
    for (int depth = 0; depth < 3; ++depth) {
      EXPECT_TRUE(tree->Exists(level_paths[depth] + "/Z.COM")) << depth;
    }
    EXPECT_THAT(ui_.messages,
                ElementsAre("Errore: La cartella è cambiata durante la scansione e non viene "
                            "esaminata oltre: C:\\SUB\\SUB",
                            "Errore: La cartella è cambiata durante la scansione e non viene "
                            "esaminata oltre: C:\\SUB",
                            "Errore: La cartella è cambiata durante la scansione e non viene "
                            "esaminata oltre: C:"));
  }
}

TEST(ScanStamp, IsDayMonthYearThenTheTime) {
  std::tm t{};
  t.tm_mday = 5;
  t.tm_mon = 11;
  t.tm_year = 126;
  t.tm_hour = 9;
  t.tm_min = 7;
  t.tm_sec = 3;
  EXPECT_EQ(ScanStamp(t), "05/12/26 - 09:07:03\r\n\r\n");
  EXPECT_EQ(TotalNumber(0), "0.");
  EXPECT_EQ(TotalNumber(4294967295u), "4294967295.");
}

}  // namespace
}  // namespace quarn
