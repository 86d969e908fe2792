// SPDX-License-Identifier: Apache-2.0
#include "platform/first_run.h"

#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "platform/test_support/memory_file_system.h"
#include "platform/test_support/memory_settings_store.h"
#include "platform/test_support/scoped_environment.h"

namespace quarn {
namespace {

constexpr char kBundle[] = "/opt/quarn/share/quarnexp";
constexpr char kUserData[] = "/home/ann/.local/share/quarnexp";

class FirstRunTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(files_.AddFile(std::string(kBundle) + "/QUARN.DAT", "signatures").ok());
    ASSERT_TRUE(files_.AddFile(std::string(kBundle) + "/NAMEVIR.DAT", "names").ok());
    ASSERT_TRUE(files_.AddFile(std::string(kBundle) + "/README", "extra").ok());
    ASSERT_TRUE(files_.AddFolder(std::string(kBundle) + "/subfolder").ok());
    ASSERT_TRUE(files_.AddLink(std::string(kBundle) + "/link", "QUARN.DAT").ok());
    ASSERT_TRUE(files_.AddFolder("/home/ann").ok());
  }

  Result<std::string> Ensure() { return EnsureDataDirectory(store_, files_, kBundle, kUserData); }

  std::optional<std::string> StoredDat() {
    Result<RegistryDocument> document = store_.Load();
    EXPECT_TRUE(document.ok()) << document.message();
    return document ? document->ReadText(kProgramKey, "DAT") : std::nullopt;
  }

  static std::string UserFile(const std::string& name) {
    return std::string(kUserData) + "/" + name;
  }

  MemoryFileSystem files_;
  MemorySettingsStore store_;
};

TEST_F(FirstRunTest, AFolderAlreadyRecordedIsReturnedAndNothingIsTouched) {
  ASSERT_TRUE(store_
                  .Update([](RegistryDocument& document) {
                    document.SetValue(kProgramKey, "DAT", RegistryValue::Text("/srv/dat"));
                  })
                  .ok());
  int updates = store_.update_count();
  Result<std::string> folder = Ensure();
  ASSERT_TRUE(folder.ok()) << folder.message();
  EXPECT_EQ(*folder, "/srv/dat");
  EXPECT_FALSE(files_.Exists(kUserData));
  EXPECT_EQ(store_.update_count(), updates);
  EXPECT_EQ(files_.CallCount(FileOperation::kCreateFolder), 0);
}

// An empty value is no folder; a file already in the user folder is the user's and stays.
TEST_F(FirstRunTest, AnEmptyRecordedFolderCountsAsNone) {
  ASSERT_TRUE(files_.AddFile(UserFile("NAMEVIR.DAT"), "the user's own").ok());
  ASSERT_TRUE(store_
                  .Update([](RegistryDocument& document) {
                    document.SetValue(kProgramKey, "DAT", RegistryValue::Text(""));
                  })
                  .ok());
  Result<std::string> folder = Ensure();
  ASSERT_TRUE(folder.ok()) << folder.message();
  EXPECT_EQ(*folder, kUserData);
  EXPECT_EQ(StoredDat(), kUserData);
  EXPECT_EQ(files_.ReadFileText(UserFile("NAMEVIR.DAT")), "the user's own");
  EXPECT_EQ(files_.ReadFileText(UserFile("QUARN.DAT")), "signatures");
}

TEST_F(FirstRunTest, AnUnwritableHomeGivesAnErrorNamingTheFolder) {
  ASSERT_TRUE(files_.SetReadOnly("/home/ann", true).ok());
  Result<std::string> folder = Ensure();
  ASSERT_FALSE(folder.ok());
  EXPECT_EQ(folder.message(), "cannot create folder /home/ann/.local: Permission denied");
  EXPECT_EQ(StoredDat(), std::nullopt);
}

TEST_F(FirstRunTest, AMissingBundleGivesAnErrorNamingIt) {
  ASSERT_TRUE(files_.Remove(kBundle).ok());
  Result<std::string> folder = Ensure();
  ASSERT_FALSE(folder.ok());
  EXPECT_NE(folder.message().find(kBundle), std::string::npos) << folder.message();
  EXPECT_EQ(StoredDat(), std::nullopt);
}

// A copy that fails part way is an error naming where it failed, leaves no file and no
// temporary copy behind, records nothing, and the next run finishes the job.
TEST_F(FirstRunTest, AFailedCopyLeavesNothingBehind) {
  const struct {
    FileOperation operation;
    const char* named;
  } cases[] = {
      {FileOperation::kWrite, kUserData},
      {FileOperation::kRead, kBundle},  // a short read is no truncated copy
      {FileOperation::kRename, kUserData},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.operation));
    files_.FailCall(c.operation, 1);
    Result<std::string> folder = Ensure();
    ASSERT_FALSE(folder.ok());
    EXPECT_NE(folder.message().find(c.named), std::string::npos) << folder.message();
    EXPECT_EQ(StoredDat(), std::nullopt);
    EXPECT_TRUE(files_.NamesIn(kUserData).empty());
  }
  ASSERT_TRUE(Ensure().ok());
  EXPECT_EQ(files_.NamesIn(kUserData).size(), 3u);
}

// After an upgrade: the bundled files replace their copies, the one named last after all
// others, so a refresh stopped halfway leaves it old; the user's own files stay.
TEST_F(FirstRunTest, ARefreshReplacesTheCopiesTheNamedFileLast) {
  ASSERT_TRUE(files_.CreateFolders(kUserData).ok());
  ASSERT_TRUE(files_.AddFile(UserFile("QUARN.DAT"), "old").ok());
  ASSERT_TRUE(files_.AddFile(UserFile("QUARNX.DAT"), "mine").ok());
  // Renames in name order would replace QUARN.DAT second; the third fails.
  files_.FailCall(FileOperation::kRename, 3);
  EXPECT_FALSE(RefreshFromBundle(files_, kBundle, kUserData, "QUARN.DAT").ok());
  EXPECT_EQ(files_.ReadFileText(UserFile("QUARN.DAT")), "old");
  ASSERT_TRUE(RefreshFromBundle(files_, kBundle, kUserData, "QUARN.DAT").ok());
  EXPECT_EQ(files_.ReadFileText(UserFile("QUARN.DAT")), "signatures");
  EXPECT_EQ(files_.ReadFileText(UserFile("NAMEVIR.DAT")), "names");
  EXPECT_EQ(files_.ReadFileText(UserFile("QUARNX.DAT")), "mine");
  EXPECT_EQ(files_.NamesIn(kUserData).size(), 4u) << "no temporary file is left";
}

TEST_F(FirstRunTest, AStoreThatCannotBeReadOrWrittenIsAnError) {
  store_.FailNextLoads(1, "memory/settings.reg, line 3: missing '='");
  EXPECT_EQ(Ensure().message(), "memory/settings.reg, line 3: missing '='");
  EXPECT_FALSE(files_.Exists(kUserData)) << "a store that cannot be read stops everything";
  store_.FailNextUpdates(1, "memory/settings.reg: disk full");
  EXPECT_EQ(Ensure().message(), "memory/settings.reg: disk full");
}

TEST_F(FirstRunTest, AFolderRecordedByAnotherProgramMeanwhileWins) {
  // Another program finishes its first run while this one copies: its value is kept.
  MemorySettingsStore racing;
  class RacingStore : public SettingsStore {
   public:
    explicit RacingStore(MemorySettingsStore& inner) : inner_(inner) {}
    Result<RegistryDocument> Load() override { return inner_.Load(); }
    Status Update(const std::function<void(RegistryDocument&)>& change) override {
      inner_.Update([](RegistryDocument& document) {
        document.SetValue(kProgramKey, "DAT", RegistryValue::Text("/elsewhere"));
      });
      return inner_.Update(change);
    }
    const std::string& Location() const override { return inner_.Location(); }

   private:
    MemorySettingsStore& inner_;
  } store(racing);
  Result<std::string> folder = EnsureDataDirectory(store, files_, kBundle, kUserData);
  ASSERT_TRUE(folder.ok()) << folder.message();
  EXPECT_EQ(*folder, "/elsewhere");
  EXPECT_EQ(racing.Load()->ReadText(kProgramKey, "DAT"), "/elsewhere");
}

TEST(DefaultUserDataDirectoryTest, PrefersAnAbsoluteXdgDataHomeElseHome) {
  ScopedEnvironment environment;
  environment.Set("HOME", "/home/bob");
  environment.Set("XDG_DATA_HOME", "/data/bob");
  EXPECT_EQ(DefaultUserDataDirectory(), "/data/bob/quarnexp");
  environment.Set("XDG_DATA_HOME", "relative/path");
  EXPECT_EQ(DefaultUserDataDirectory(), "/home/bob/.local/share/quarnexp");
  environment.Set("XDG_DATA_HOME", nullptr);
  EXPECT_EQ(DefaultUserDataDirectory(), "/home/bob/.local/share/quarnexp");
}

}  // namespace
}  // namespace quarn
