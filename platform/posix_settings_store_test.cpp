#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "platform/settings_store.h"
#include "platform/test_support/memory_settings_store.h"
#include "platform/test_support/scoped_environment.h"
#include "platform/test_support/scratch_folder.h"

namespace quarn {
namespace {

namespace fs = std::filesystem;

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::set<std::string> NamesIn(const std::string& folder) {
  std::set<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// One store implementation with raw access to the text it keeps, so that the same contract
// is checked against the file store and its in-memory twin.
class StoreUnderTest {
 public:
  virtual ~StoreUnderTest() = default;
  virtual SettingsStore& store() = 0;
  virtual void SetText(const std::string& text) = 0;
  virtual std::optional<std::string> Text() = 0;
};

class FileStoreUnderTest : public StoreUnderTest {
 public:
  FileStoreUnderTest()
      : path_(folder_.path() + "/config/quarnexp/settings.reg"),
        store_(OpenFileSettingsStore(path_)) {}
  SettingsStore& store() override { return *store_; }
  void SetText(const std::string& text) override { WriteFile(path_, text); }
  std::optional<std::string> Text() override { return ReadFile(path_); }

 private:
  ScratchFolder folder_;
  std::string path_;
  std::unique_ptr<SettingsStore> store_;
};

class MemoryStoreUnderTest : public StoreUnderTest {
 public:
  SettingsStore& store() override { return store_; }
  void SetText(const std::string& text) override { store_.SetText(text); }
  std::optional<std::string> Text() override { return store_.Text(); }

 private:
  MemorySettingsStore store_;
};

class SettingsStoreContractTest : public testing::TestWithParam<bool> {
 protected:
  SettingsStoreContractTest() {
    if (GetParam()) {
      under_test_ = std::make_unique<FileStoreUnderTest>();
    } else {
      under_test_ = std::make_unique<MemoryStoreUnderTest>();
    }
  }
  SettingsStore& store() { return under_test_->store(); }

  std::unique_ptr<StoreUnderTest> under_test_;
};

TEST_P(SettingsStoreContractTest, MissingOrZeroByteStoreIsEmptyAndFirstUpdateFillsIt) {
  // The fresh store is missing; the second round starts from a file of 0 bytes.
  for (const std::optional<std::string>& before :
       {std::optional<std::string>(), std::optional<std::string>("")}) {
    if (before) under_test_->SetText(*before);
    const std::string what = before ? "0 bytes" : "missing";
    Result<RegistryDocument> empty = store().Load();
    ASSERT_TRUE(empty.ok()) << what << ": " << empty.message();
    EXPECT_TRUE(empty->keys().empty()) << what;
    EXPECT_EQ(under_test_->Text(), before) << what;

    Status updated = store().Update([](RegistryDocument& document) {
      document.SetValue(kProgramKey, "Opzioni", RegistryValue::Number(0x1f));
    });
    ASSERT_TRUE(updated.ok()) << what << ": " << updated.message();
    EXPECT_EQ(under_test_->Text(),
              "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\QuarnExp]\r\n"
              "\"Opzioni\"=hex:1f,00,00,00\r\n\r\n")
        << what;
    Result<RegistryDocument> loaded = store().Load();
    ASSERT_TRUE(loaded.ok()) << what << ": " << loaded.message();
    EXPECT_EQ(loaded->ReadNumber(kProgramKey, "opzioni"), 0x1fu) << what;
  }
  // Any byte at all makes it text that must be REGEDIT4.
  under_test_->SetText("\n");
  Result<RegistryDocument> blank = store().Load();
  ASSERT_FALSE(blank.ok());
  EXPECT_EQ(blank.message(), store().Location() + ", line 1: the first line is not \"REGEDIT4\"");
}

TEST_P(SettingsStoreContractTest, UpdateKeepsEverythingItDoesNotChange) {
  under_test_->SetText(
      "REGEDIT4\n"
      "; chosen by hand\n"
      "[HKEY_LOCAL_MACHINE\\Software\\QuarnExp]\n"
      "\"Lingua\"=hex:01,00,00,00\n"
      "\"Strange\"=hex(7):61,00,00\n"
      "[HKEY_CURRENT_USER\\Someone\\Else]\n"
      "@=\"untouched\"\n");
  Status updated = store().Update([](RegistryDocument& document) {
    document.SetValue(kProgramKey, "DAT", RegistryValue::Text("/data"));
  });
  ASSERT_TRUE(updated.ok()) << updated.message();
  EXPECT_EQ(under_test_->Text(),
            "REGEDIT4\r\n\r\n"
            "; chosen by hand\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\QuarnExp]\r\n"
            "\"Lingua\"=hex:01,00,00,00\r\n"
            "\"Strange\"=hex(7):61,00,00\r\n"
            "\"DAT\"=\"/data\"\r\n\r\n"
            "[HKEY_CURRENT_USER\\Someone\\Else]\r\n"
            "@=\"untouched\"\r\n\r\n");
}

TEST_P(SettingsStoreContractTest, UpdateStartsFromWhatAnotherWriterLeft) {
  Result<RegistryDocument> before = store().Load();
  ASSERT_TRUE(before.ok()) << before.message();
  under_test_->SetText("REGEDIT4\n[K]\n\"other\"=\"written meanwhile\"\n");
  Status updated = store().Update(
      [](RegistryDocument& document) { document.SetValue("K", "mine", RegistryValue::Text("1")); });
  ASSERT_TRUE(updated.ok()) << updated.message();
  Result<RegistryDocument> after = store().Load();
  ASSERT_TRUE(after.ok()) << after.message();
  EXPECT_EQ(after->ValueNames("K"), (std::vector<std::string>{"other", "mine"}));
}

TEST_P(SettingsStoreContractTest, MalformedStoreIsReportedAndNeverOverwritten) {
  const std::string malformed = "REGEDIT4\r\n[K]\r\n\"v\"=dword:1\r\n";
  under_test_->SetText(malformed);
  const std::string expected_start = store().Location() + ", line 3: ";

  Result<RegistryDocument> loaded = store().Load();
  ASSERT_FALSE(loaded.ok());
  EXPECT_TRUE(loaded.message().starts_with(expected_start)) << loaded.message();

  bool changed = false;
  Status updated = store().Update([&](RegistryDocument& document) {
    changed = true;
    document.SetValue("K", "v", RegistryValue::Text("repaired"));
  });
  ASSERT_FALSE(updated.ok());
  EXPECT_TRUE(updated.message().starts_with(expected_start)) << updated.message();
  EXPECT_FALSE(changed);
  EXPECT_EQ(under_test_->Text(), malformed);
}

INSTANTIATE_TEST_SUITE_P(FileAndMemory, SettingsStoreContractTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "File" : "Memory";
                         });

class FileSettingsStoreTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(folder_.path().empty()) << "mkdtemp failed"; }

  ScratchFolder folder_;
  std::string path_ = folder_.path() + "/settings.reg";
};

TEST_F(FileSettingsStoreTest, StoreAlreadyAsFormattedIsNotRewritten) {
  auto store = OpenFileSettingsStore(path_);
  WriteFile(path_, "REGEDIT4\n[K]\n");
  struct stat before, after;
  ASSERT_EQ(stat(path_.c_str(), &before), 0);
  ASSERT_TRUE(store->Update([](RegistryDocument&) {}).ok());
  ASSERT_EQ(stat(path_.c_str(), &after), 0);
  EXPECT_NE(after.st_ino, before.st_ino) << "a hand-written layout is rewritten in the program's";

  before = after;
  ASSERT_TRUE(store->Update([](RegistryDocument& document) { document.CreateKey("k"); }).ok());
  ASSERT_EQ(stat(path_.c_str(), &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(ReadFile(path_), "REGEDIT4\r\n\r\n[K]\r\n\r\n");
}

// Anything but a regular file where the store should be is refused by what it is, and a FIFO
// is refused at once rather than waited on for a writer.
TEST_F(FileSettingsStoreTest, AStoreThatIsNoRegularFileIsAnErrorNamingIt) {
  struct Case {
    const char* kind;
    bool (*make)(const std::string& path);
    const char* cause;
  };
  const Case cases[] = {
      {"folder", [](const std::string& path) { return fs::create_directories(path); },
       "is a folder, not a regular file"},
      {"FIFO", [](const std::string& path) { return mkfifo(path.c_str(), 0600) == 0; },
       "is a FIFO, not a regular file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind);
    const std::string path = folder_.path() + "/" + c.kind + ".reg";
    ASSERT_TRUE(c.make(path));
    auto store = OpenFileSettingsStore(path);
    std::optional<Result<RegistryDocument>> loaded;
    std::optional<Status> updated;
    EXPECT_TRUE(FinishesWithoutAWriter(path, [&] {
      loaded = store->Load();
      updated = store->Update([](RegistryDocument& document) { document.CreateKey("K"); });
    })) << "waited on the FIFO";
    EXPECT_EQ(loaded->message(), path + ": " + c.cause);
    EXPECT_EQ(updated->message(), path + ": " + c.cause);
    EXPECT_EQ(fs::symlink_status(path).type(),
              std::string(c.kind) == "FIFO" ? fs::file_type::fifo : fs::file_type::directory);
  }
}

// A store kept as a symbolic link, as dotfile managers keep them, is written through to the
// file the link chain ends at, in that file's folder, and stays a link; the lock lies beside
// that file, so every name of the store shares it.
TEST_F(FileSettingsStoreTest, ALinkedStoreIsWrittenThroughAndStaysALink) {
  const std::string dotfiles = folder_.path() + "/dotfiles";
  fs::create_directories(dotfiles);
  WriteFile(dotfiles + "/quarn.reg", "REGEDIT4\r\n\r\n[K]\r\n\"old\"=\"1\"\r\n\r\n");
  ASSERT_EQ(chmod((dotfiles + "/quarn.reg").c_str(), 0640), 0);
  // settings.reg -> middle.reg -> dotfiles/quarn.reg, the second link relative to its folder.
  fs::create_symlink("dotfiles/quarn.reg", folder_.path() + "/middle.reg");
  fs::create_symlink(folder_.path() + "/middle.reg", path_);
  auto store = OpenFileSettingsStore(path_);
  Status updated = store->Update(
      [](RegistryDocument& document) { document.SetValue("K", "new", RegistryValue::Text("2")); });
  ASSERT_TRUE(updated.ok()) << updated.message();

  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_EQ(fs::read_symlink(path_), folder_.path() + "/middle.reg");
  EXPECT_EQ(fs::read_symlink(folder_.path() + "/middle.reg"), "dotfiles/quarn.reg");
  EXPECT_EQ(store->Load()->ReadText("K", "new"), "2");
  EXPECT_EQ(store->Load()->ReadText("K", "old"), "1");
  EXPECT_EQ(fs::status(dotfiles + "/quarn.reg").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  EXPECT_EQ(NamesIn(dotfiles), (std::set<std::string>{"quarn.reg", "quarn.reg.lock"}));
  EXPECT_EQ(NamesIn(folder_.path()),
            (std::set<std::string>{"dotfiles", "middle.reg", "settings.reg"}));

  // A link made before its file: the first write makes the file where the link points.
  const std::string ahead = folder_.path() + "/ahead.reg";
  fs::create_symlink("dotfiles/later.reg", ahead);
  ASSERT_TRUE(OpenFileSettingsStore(ahead)->Update([](RegistryDocument&) {}).ok());
  EXPECT_TRUE(fs::is_symlink(ahead));
  EXPECT_EQ(ReadFile(dotfiles + "/later.reg"), "REGEDIT4\r\n\r\n");

  // A loop of links is an error naming the store, and nothing is written.
  const std::string loop = folder_.path() + "/loop.reg";
  fs::create_symlink("loop.reg", loop);
  Status looped = OpenFileSettingsStore(loop)->Update([](RegistryDocument&) {});
  EXPECT_NE(looped.message().find(loop), std::string::npos) << looped.message();
  EXPECT_TRUE(fs::is_symlink(loop));
}

TEST_F(FileSettingsStoreTest, OversizedStoreIsRefusedNotReadWhole) {
  const std::string huge = "REGEDIT4\n;" + std::string(1 << 20, 'x') + "\n";
  WriteFile(path_, huge);
  auto store = OpenFileSettingsStore(path_);
  Result<RegistryDocument> loaded = store->Load();
  ASSERT_FALSE(loaded.ok());
  EXPECT_EQ(loaded.message(), path_ + ": larger than 1 MiB, not a settings store");
  EXPECT_FALSE(store->Update([](RegistryDocument&) {}).ok());
  EXPECT_EQ(ReadFile(path_), huge);
}

TEST_F(FileSettingsStoreTest, LockThatCannotBeTakenStopsTheWrite) {
  WriteFile(path_, "REGEDIT4\n");
  fs::create_directories(path_ + ".lock");
  Status updated = OpenFileSettingsStore(path_)->Update(
      [](RegistryDocument& document) { document.CreateKey("K"); });
  ASSERT_FALSE(updated.ok());
  EXPECT_TRUE(updated.message().starts_with(path_ + ".lock: ")) << updated.message();
  EXPECT_EQ(ReadFile(path_), "REGEDIT4\n");
}

TEST_F(FileSettingsStoreTest, FailedWriteRemovesTheTemporaryFileAndKeepsTheStore) {
  const std::string original = "REGEDIT4\r\n\r\n[K]\r\n\"v\"=\"old\"\r\n\r\n";
  WriteFile(path_, original);
  // A file size limit makes the write fail part way, as a full disk would; it is set in a
  // child so that the test program itself keeps writing freely.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit = {200, 200};
    setrlimit(RLIMIT_FSIZE, &limit);
    Status updated = OpenFileSettingsStore(path_)->Update([](RegistryDocument& document) {
      document.SetValue("K", "v", RegistryValue::Text(std::string(4000, 'x')));
    });
    bool named = updated.message().find(".settings.reg.quarn-") != std::string::npos &&
                 updated.message().find("File too large") != std::string::npos;
    _exit(updated.ok() ? 1 : named ? 0 : 2);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the write succeeded, 2: the message names no file";
  EXPECT_EQ(ReadFile(path_), original);
  EXPECT_EQ(NamesIn(folder_.path()), (std::set<std::string>{"settings.reg", "settings.reg.lock"}));
}

TEST_F(FileSettingsStoreTest, ConcurrentWritersLoseNothingAndReadersSeeWholeFiles) {
  constexpr int kWriters = 2;
  constexpr int kUpdatesEach = 200;
  std::vector<pid_t> children;
  for (int writer = 0; writer < kWriters; ++writer) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      auto store = OpenFileSettingsStore(path_);
      int failures = 0;
      for (int i = 0; i < kUpdatesEach; ++i) {
        std::string name = "w" + std::to_string(writer) + "_" + std::to_string(i);
        Status updated = store->Update([&](RegistryDocument& document) {
          document.SetValue(kProgramKey, name, RegistryValue::Number(i));
        });
        if (!updated.ok()) ++failures;
      }
      _exit(failures == 0 ? 0 : 1);
    }
    children.push_back(child);
  }

  // Until both are done, a reader must never meet a half-written store, nor see values
  // disappear.
  auto reader = OpenFileSettingsStore(path_);
  size_t seen = 0;
  int bad_loads = 0;
  int shrinks = 0;
  size_t running = children.size();
  while (running > 0) {
    Result<RegistryDocument> loaded = reader->Load();
    if (!loaded.ok()) {
      if (++bad_loads <= 3) ADD_FAILURE() << loaded.message();
    } else {
      size_t count = loaded->ValueNames(kProgramKey).size();
      if (count < seen) ++shrinks;
      seen = count;
    }
    for (pid_t& child : children) {
      int status = 0;
      if (child <= 0 || waitpid(child, &status, WNOHANG) != child) continue;
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a writer failed";
      child = 0;
      --running;
    }
  }
  EXPECT_EQ(bad_loads, 0);
  EXPECT_EQ(shrinks, 0);

  Result<RegistryDocument> final_state = reader->Load();
  ASSERT_TRUE(final_state.ok()) << final_state.message();
  EXPECT_EQ(final_state->ValueNames(kProgramKey).size(),
            static_cast<size_t>(kWriters * kUpdatesEach));
  for (int writer = 0; writer < kWriters; ++writer) {
    for (int i = 0; i < kUpdatesEach; ++i) {
      std::string name = "w" + std::to_string(writer) + "_" + std::to_string(i);
      EXPECT_EQ(final_state->ReadNumber(kProgramKey, name), static_cast<uint32_t>(i)) << name;
    }
  }
  EXPECT_EQ(NamesIn(folder_.path()), (std::set<std::string>{"settings.reg", "settings.reg.lock"}));
}

TEST(DefaultSettingsPathTest, FollowsTheEnvironmentInOrder) {
  ScopedEnvironment environment;
  environment.Set("QUARN_SETTINGS", "/etc/quarn.reg");
  environment.Set("XDG_CONFIG_HOME", "/xdg");
  environment.Set("HOME", "/home/user");
  EXPECT_EQ(DefaultSettingsPath(), "/etc/quarn.reg");
  environment.Set("QUARN_SETTINGS", "");
  EXPECT_EQ(DefaultSettingsPath(), "/xdg/quarnexp/settings.reg");
  environment.Set("XDG_CONFIG_HOME", "relative/config");
  EXPECT_EQ(DefaultSettingsPath(), "/home/user/.config/quarnexp/settings.reg");
  environment.Set("XDG_CONFIG_HOME", nullptr);
  EXPECT_EQ(DefaultSettingsPath(), "/home/user/.config/quarnexp/settings.reg");
}

}  // namespace
}  // namespace quarn
