#include "engine/non_executable_chain.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/database_builder.h"
#include "engine/section_directory.h"
#include "engine/test_support/compound_file_writer.h"
#include "engine/test_support/signature_record_bytes.h"
#include "platform/byte_reader.h"
#include "platform/test_support/memory_file_system.h"
#include "platform/test_support/open_bytes.h"

namespace quarn {
namespace {

std::vector<uint8_t> EntryRecord(const std::string& code, uint16_t id, uint8_t confirm_offset,
                                 const std::string& confirm) {
  return testing::EntryRecord(id, {code.begin(), code.end()}, 0, confirm_offset,
                              {confirm.begin(), confirm.end()});
}

std::vector<uint8_t> MacroRecord(uint16_t id, const std::string& first, const std::string& second) {
  std::vector<uint8_t> record(18, 0);
  WriteU16(&record[0], id);
  std::copy(first.begin(), first.end(), record.begin() + 4);
  WriteU16(&record[12], 8);
  std::copy(second.begin(), second.end(), record.begin() + 14);
  return record;
}

class NonExecutableChainTest : public ::testing::Test {
 protected:
  uint32_t Detect(const DatabaseContent& content, const std::vector<uint8_t>& bytes) {
    DatabaseImage signatures(*BuildSignatureImage(content));
    flag_ = 9;
    return DetectNonExecutable(signatures, *testing::OpenBytes(files_, bytes), &flag_);
  }

  MemoryFileSystem files_;
  uint16_t flag_ = 9;
};

TEST_F(NonExecutableChainTest, ComEntryMatchesAtTheFileStart) {
  DatabaseContent content;
  content.sections[kComEntrySection].records = {EntryRecord("ABCDEFGH", 5, 20, "WXYZ")};
  std::string text = "ABCDEFGH............WXYZ....";
  EXPECT_EQ(Detect(content, {text.begin(), text.end()}), 5u);
  EXPECT_EQ(flag_, 0);
  text[21] = 'x';
  // A partial match keeps the chain open, and the next step's "nothing" replaces it.
  EXPECT_EQ(Detect(content, {text.begin(), text.end()}), 0u);
  EXPECT_EQ(flag_, 0);
  text[0] = 'Z';
  EXPECT_EQ(Detect(content, {text.begin(), text.end()}), 0u);
  EXPECT_EQ(flag_, 0);
}

// A partial match at the COM entry leaves the chain open; the macro check, the last step,
// replaces it — with its own exact match, or with nothing.
TEST_F(NonExecutableChainTest, LaterStepsReplaceAPartialMatch) {
  std::vector<uint8_t> text(64, ' ');
  std::string first = "AUTOEXEC", second = "KILL";
  std::copy(first.begin(), first.end(), text.begin());
  std::copy(second.begin(), second.end(), text.begin() + 8);
  testing::CompoundFileWriter writer;
  writer.AddStream("WordDocument", testing::WordDocumentStream().AddMacro(text, 0).Build());
  std::vector<uint8_t> document = writer.Build();

  DatabaseContent content;
  // Matches the compound file's first eight bytes, but not at offset 100.
  std::string start(reinterpret_cast<const char*>(document.data()), 8);
  content.sections[kComEntrySection].records = {EntryRecord(start, 5, 100, "none")};
  EXPECT_EQ(Detect(content, document), 0u);  // the macro step found nothing: the partial is gone
  EXPECT_EQ(flag_, 0);

  content.sections[kMacroSection].records = {MacroRecord(6, "AUTOEXEC", "KILL")};
  EXPECT_EQ(Detect(content, document), 6u);
  EXPECT_EQ(flag_, 0);
}

}  // namespace
}  // namespace quarn
