#include "shell/memory_check.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "engine/database_builder.h"
#include "platform/test_support/memory_file_system.h"
#include "platform/test_support/in_memory_system_access.h"
#include "engine/test_support/recording_interface.h"

namespace quarn {
namespace {

// MOV AX,3521h / INT 21h / MOV [0112h],BX / MOV [0114h],ES: a resident hook of INT 21h,
// confirmed by its bytes 4 and 5.
const std::vector<uint8_t> kHook = {0xB8, 0x21, 0x35, 0xCD, 0x21, 0x89,
                                    0x1E, 0x12, 0x01, 0x8C, 0x06, 0x14};

DatabaseImage HookDatabase() {
  DatabaseContent content;
  std::vector<uint8_t> pattern(20, 0);
  std::memcpy(pattern.data(), kHook.data(), kHook.size());
  pattern[14] = 7;  // VirusId
  pattern[17] = 4;  // confirmation offset and word
  pattern[18] = 0x21;
  pattern[19] = 0x89;
  content.sections[kMemoryPatternSection].records.push_back(pattern);
  std::vector<uint8_t> name(30, 0);
  name[0] = 7;
  std::memcpy(name.data() + 2, "RESIDENT", 8);
  content.sections[kMemoryNameSection].records.push_back(name);
  return DatabaseImage(BuildSignatureImage(content).value());
}

TEST(CheckMemoryAtStartUp, ItsLinesAreStoredLoggedAndShownAsPlainText) {
  MemoryFileSystem files;
  files.AddFolder("/data");
  auto folder = files.OpenFolder("/data");
  ScanLog log;
  ASSERT_TRUE(log.Open(**folder));
  testing::RecordingInterface ui;
  const DatabaseImage signatures = HookDatabase();
  DatabaseImage names;
  ScanSession session(signatures, names, log, ui, Language::kItalian, ScanOptions{});
  InMemorySystemAccess memory;
  memory.PutMemory(0x3000 * 16 + 0x40, kHook);

  const MemoryScanResult result = CheckMemoryAtStartUp(session, memory);
  EXPECT_EQ(result.virus_id, 7);
  EXPECT_EQ(result.name, "RESIDENT");
  ASSERT_EQ(session.result_list().size(), 2u);
  EXPECT_EQ(session.result_list()[0], "SCANSIONE DELLA MEMORIA");
  EXPECT_THAT(session.result_list()[1], ::testing::HasSubstr("RESIDENT"));
  ASSERT_EQ(ui.lines.size(), 2u);
  EXPECT_EQ(ui.lines[1].kind, ReportKind::kText);
  EXPECT_EQ(ui.lines[1].icon, ResultIcon::kVirus);
  EXPECT_FALSE(ui.progress.empty()) << "the progress goes to the front end";
  EXPECT_NE(files.ReadFileText("/data/QUARNEXP.LOG")->find("RESIDENT"), std::string::npos);
}

}  // namespace
}  // namespace quarn
