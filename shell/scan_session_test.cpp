#include "shell/scan_session.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/test_support/memory_file_system.h"
#include "shell/display_text.h"
#include "shell/scanned_extension.h"
#include "engine/test_support/recording_interface.h"

namespace quarn {
namespace {

TEST(ResultLineText, NamesCannotForgeLinesAndLinesFitTheList) {
  EXPECT_EQ(ResultLineText("C:\\A\nB.COM Infetto da X"), "C:\\A?B.COM Infetto da X");
  EXPECT_EQ(ResultLineText("tab\there\x7f"), "tab?here?");
  // C1 as well: NEL (U+0085) ends a line for some log readers, CSI (U+009B) drives terminals.
  EXPECT_EQ(ResultLineText("A\xc2\x85"
                           "B.COM \xc2\x9b"
                           "2J \xc2\x80\xc2\x9f\xc2\xa0"),
            "A?B.COM ?2J ??\xc2\xa0");
  EXPECT_EQ(ResultLineText("bad \xff\xfe utf8 \xc3"), "bad ?? utf8 ?");
  EXPECT_EQ(ResultLineText("caf\xc3\xa9 \xe2\x82\xac"), "caf\xc3\xa9 \xe2\x82\xac");
  EXPECT_EQ(ResultLineText("\xed\xa0\x80"), "???") << "a UTF-16 surrogate is not UTF-8";
  EXPECT_EQ(ResultLineText(std::string(300, 'a')).size(), kMaxResultLineLength);
  // A character that would straddle the limit is left out whole.
  const std::string text = std::string(253, 'a') + "\xc3\xa9";
  EXPECT_EQ(ResultLineText(text), std::string(253, 'a'));
}

TEST(HasScannedExtension, FollowsTheExtensionTable) {
  for (const char* yes : {"A.EXE", "a.exe", "A.OVL", "A.OV", "A.DOT", ".DO", "A.SYS",
                          "ARCHIVE.DOC.TXT", "x.ov1", "A.COM", "a.com"}) {
    EXPECT_TRUE(HasScannedExtension(yes)) << yes;
  }
  for (const char* no :
       {"A.Exe", "A.EX", "A.EXE1", "A.Doc", "README", "SETUP.EXE.BAK", "A.dO", "A.", "A.COMX"}) {
    EXPECT_FALSE(HasScannedExtension(no)) << no;
  }
  EXPECT_FALSE(HasScannedExtension(std::string(255, 'x') + ".EXE"))
      << "the dot must lie within the first 255 characters";
}

TEST(ScanSession, TheListKeepsItsSlotsAndTheLogGetsEveryLine) {
  MemoryFileSystem files;
  files.AddFolder("/data");
  auto folder = files.OpenFolder("/data");
  ScanLog log;
  ASSERT_TRUE(log.Open(**folder));
  testing::RecordingInterface ui;
  DatabaseImage none;
  ScanSession session(none, none, log, ui, Language::kEnglish, ScanOptions{});
  const std::string* first_slot = session.result_list().data();
  const size_t sent = kResultListSlots + 2;
  for (size_t i = 0; i < sent; ++i) session.AddTextLine(ResultIcon::kBlank, std::to_string(i));
  EXPECT_EQ(session.result_list().size(), kResultListSlots);
  EXPECT_EQ(session.result_list().data(), first_slot) << "stored lines never move";
  EXPECT_EQ(session.result_list()[kResultListSlots - 2], std::to_string(kResultListSlots - 2));
  EXPECT_EQ(session.result_list().back(), "... 3 more lines: see the log");
  EXPECT_EQ(ui.lines.size(), sent) << "the front end is shown every line";
  const std::string text = *files.ReadFileText("/data/QUARNEXP.LOG");
  EXPECT_NE(text.find("\r\n" + std::to_string(sent - 1) + "\r\n"), std::string::npos);

  session.Reset();
  session.AddTextLine(ResultIcon::kBlank, "x");
  EXPECT_THAT(session.result_list(), ::testing::ElementsAre("x"));
}

}  // namespace
}  // namespace quarn
