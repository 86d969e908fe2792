// The run as quarnscan makes it, with a container opener plugged in as the program will get
// one: the settings and the options reach the walk, and the events say what it found inside.
#include "cli/scan_run.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "containers/test_support/memory_container.h"
#include "engine/database_builder.h"
#include "engine/section_directory.h"
#include "platform/test_support/memory_file_system.h"
#include "platform/test_support/memory_settings_store.h"
#include "platform/test_support/test_bytes.h"

namespace quarn {
namespace {

const std::string kRunFloppyMark = "RUN-FLOPPY";

class StringChannel : public OutputChannel {
 public:
  std::string written;

 protected:
  Status Put(std::string_view text) override {
    written += text;
    return Status::Ok();
  }
};

class ContainerRunTest : public ::testing::Test {
 protected:
  ContainerRunTest() {
    DatabaseContent content;
    content.sections[kComEntrySection].records = {testing::EicarEntryRecord()};
    content.names = {{1, "EICAR-Test-File"}};
    files_.AddFile("/data/QUARN.DAT", EncodeDatabaseFile(*BuildSignatureImage(content)));
    files_.AddFile("/data/NAMEVIR.DAT", EncodeDatabaseFile(*BuildNameImage(content)));
    files_.AddFile("/srv/DISK1.IMG", kRunFloppyMark);
    opener_.Add(kRunFloppyMark, [this] {
      OpenedContainer opened;
      opened.volumes.push_back(
          testing::MemoryContainerVolume(ContainerKind::kFat12, "A:", floppy_));
      auto* volume = static_cast<testing::MemoryVolume*>(opened.volumes[0].files.get());
      volume->QueueDamage(ContainerDamage{"LOST.COM", IncompleteReason::kDamaged});
      return opened;
    });
  }

  struct Outcome {
    int status = 0;
    std::vector<nlohmann::json> events;
  };

  Outcome RunWith(std::vector<std::string> options) {
    std::vector<const char*> argv{"quarnscan",   "--json",     "--no-log",
                                  "--no-memory", "--data-dir", "/data"};
    for (const std::string& option : options) argv.push_back(option.c_str());
    argv.push_back("/srv");
    ArgumentsOutcome parsed = ParseScanArguments(static_cast<int>(argv.size()), argv.data());
    EXPECT_TRUE(parsed.arguments) << parsed.standard_error;
    StringChannel out;
    std::FILE* err = std::tmpfile();
    ScanEnvironment environment;
    environment.files = &files_;
    environment.settings = &settings_;
    environment.detect_drives = [] { return DriveMap(); };
    environment.working_directory = "/";
    environment.out = &out;
    environment.err = err;
    environment.container_opener = &opener_;
    Outcome outcome;
    outcome.status = RunQuarnscan(*parsed.arguments, environment);
    std::fclose(err);
    size_t at = 0;
    for (size_t end; (end = out.written.find('\n', at)) != std::string::npos; at = end + 1) {
      outcome.events.push_back(nlohmann::json::parse(out.written.substr(at, end - at)));
    }
    return outcome;
  }

  MemoryFileSystem files_;
  MemorySettingsStore settings_;
  std::shared_ptr<MemoryFileSystem> floppy_ = std::make_shared<MemoryFileSystem>();
  testing::MarkedContainerOpener opener_;
};

TEST_F(ContainerRunTest, TheOptionsOverTheSettingsChooseWhatIsOpened) {
  floppy_->AddFile("/A.COM", "MZ");
  struct Case {
    std::string stored_kinds;  // the settings' "Kinds", "" for none
    std::vector<std::string> options;
    bool opened;
  };
  const std::vector<Case> cases = {
      {"", {}, true},
      {"00,00,00,00", {}, false},
      {"00,00,00,00", {"--containers", "images"}, true},
  };
  for (const Case& test : cases) {
    std::string text = "REGEDIT4\r\n\r\n";
    if (!test.stored_kinds.empty()) {
      text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QuarnExp\\Containers]\r\n\"Kinds\"=hex:" +
              test.stored_kinds + "\r\n";
    }
    settings_.SetText(text);
    const Outcome outcome = RunWith(test.options);
    EXPECT_EQ(outcome.events.back()["total"], test.opened ? 2 : 1) << test.stored_kinds;
  }
}

}  // namespace
}  // namespace quarn
