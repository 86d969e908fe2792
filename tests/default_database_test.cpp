// The database that ships, loaded the way the programs load it.
#include <gtest/gtest.h>

#include "dbtool/database_files.h"
#include "engine/database_loader.h"
#include "engine/database_verifier.h"
#include "engine/database_version.h"
#include "engine/non_executable_chain.h"
#include "engine/section_walk.h"
#include "engine/virus_names.h"
#include "platform/byte_reader.h"
#include "platform/posix_folder.h"
#include "platform/test_support/memory_file_system.h"
#include "platform/test_support/memory_settings_store.h"

namespace quarn {
namespace {

class SilentInterface : public UserInterface {
 public:
  void SetOptionsStatus(OptionsStatusPart, std::string_view) override {}
  void ShowMessage(std::string_view caption, std::string_view text) override {
    messages.push_back(std::string(caption) + ": " + std::string(text));
  }
  std::vector<std::string> messages;
};

TEST(DefaultDatabase, LoadsAndNamesEicarThroughItsRecord) {
  auto files = OpenPosixFileSystem();
  MemorySettingsStore settings;
  SilentInterface ui;
  LoadRequest request;
  request.settings = &settings;
  request.files = files.get();
  request.ui = &ui;
  request.data_directory_override = QUARN_DATA_DIR;
  request.log_path_override = "";  // leave the build tree alone
  EngineState state;
  ASSERT_EQ(LoadDatabases(request, &state), 1) << (ui.messages.empty() ? "" : ui.messages[0]);

  SectionWalk walk(state.signatures, DirectoryOffset(kComEntrySection), kEntrySignatureRecordSize);
  ASSERT_FALSE(walk.AtEnd());
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(walk.Record().data()), 8), "X5O!P%@A");
  uint16_t id = ReadU16(walk.Record(), 8);
  EXPECT_EQ(GetVirusName(state.names, id), "EICAR-Test-File");

  DatabaseVersion version = ReadDatabaseVersion(state.signatures);
  EXPECT_GE(version.version, 1);
  EXPECT_GE(version.month, 1);
  EXPECT_LE(version.month, 12);
  EXPECT_GE(version.year, 2026);
}

TEST(DefaultDatabase, HasNoStructuralProblem) {
  auto files = OpenPosixFileSystem();
  auto pair = ReadDatabasePair(*files, QUARN_DATA_DIR);
  ASSERT_TRUE(pair.ok()) << pair.message();
  std::vector<std::string> problems = VerifyDatabase(pair->signatures, pair->names);
  EXPECT_TRUE(problems.empty()) << problems.front();
}

}  // namespace
}  // namespace quarn

namespace quarn {
namespace {

uint32_t DetectWithDefaultDatabase(const std::string& bytes, uint16_t* flag) {
  auto files = OpenPosixFileSystem();
  auto pair = ReadDatabasePair(*files, QUARN_DATA_DIR);
  if (!pair.ok()) return 0xFFFFFFFF;
  MemoryFileSystem memory;
  memory.AddFile("/sample.com", std::string_view(bytes));
  auto folder = memory.OpenFolder("/");
  auto file = (*folder)->OpenFile("sample.com", OpenMode::kRead);
  return DetectNonExecutable(pair->signatures, **file, flag);
}

TEST(DefaultDatabase, RecognisesTheStandardTestFileExactly) {
  // Assembled from two halves so that this source is not itself the test file.
  const std::string eicar =
      std::string("X5O!P%@AP[4\\PZX54(P^)7CC)7}$") + "EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";
  ASSERT_EQ(eicar.size(), 68u);
  uint16_t flag = 9;
  EXPECT_EQ(DetectWithDefaultDatabase(eicar, &flag), 1u);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(DetectWithDefaultDatabase(eicar + "  \r\n", &flag), 1u);
  EXPECT_EQ(flag, 0);
  std::string altered = eicar;
  altered[66] = '-';
  // Only the first eight bytes match: a partial match, which the chain's later steps replace.
  EXPECT_EQ(DetectWithDefaultDatabase(altered, &flag), 0u);
  EXPECT_EQ(flag, 0);
  EXPECT_EQ(DetectWithDefaultDatabase("plain text, nothing here", &flag), 0u);
}

}  // namespace
}  // namespace quarn
