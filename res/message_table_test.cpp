#include "res/message_table.h"

#include <climits>
#include <cstddef>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace quarn {
namespace {

using namespace std::string_view_literals;

bool IsItalianId(int id) {
  return (id / 1000) % 2 == 0;
}

// Strict UTF-8 well-formedness (no overlongs, no surrogates, nothing above U+10FFFF), so a
// table saved in a single-byte code page is caught.
bool IsWellFormedUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return false;
    }
    i += length;
  }
  return true;
}

size_t TrailingBlanks(std::string_view text) {
  const size_t last = text.find_last_not_of(' ');
  return last == std::string_view::npos ? text.size() : text.size() - last - 1;
}

TEST(StringTableShape, SortedWithoutDuplicates) {
  const auto table = AllStrings();
  ASSERT_GT(table.size(), 100u);
  for (size_t i = 1; i < table.size(); ++i) {
    EXPECT_LT(table[i - 1].id, table[i].id) << "at entry " << i;
  }
}

TEST(StringTableShape, EveryTextHasItsTwinInTheOtherLanguage) {
  for (const StringEntry& entry : AllStrings()) {
    ASSERT_GT(entry.id, 0);
    const int twin = IsItalianId(entry.id) ? entry.id + 1000 : entry.id - 1000;
    EXPECT_TRUE(HasString(twin)) << "id " << entry.id << " has no twin " << twin;
  }
}

TEST(StringTableShape, TextsAreNonEmptyUtf8AndFitTheLoadBuffer) {
  for (const StringEntry& entry : AllStrings()) {
    EXPECT_FALSE(entry.text.empty()) << "id " << entry.id;
    EXPECT_TRUE(IsWellFormedUtf8(entry.text)) << "id " << entry.id;
    // Texts are loaded into 255-byte buffers with their terminator.
    EXPECT_LE(entry.text.size(), 254u) << "id " << entry.id;
    EXPECT_EQ(entry.text.find('\0'), std::string_view::npos) << "id " << entry.id;
  }
}

TEST(StringTableLookup, FindsEveryEntryByItsId) {
  for (const StringEntry& entry : AllStrings()) {
    EXPECT_EQ(LoadString(entry.id), entry.text) << "id " << entry.id;
    EXPECT_EQ(LoadString(entry.id).data(), entry.text.data()) << "id " << entry.id;
  }
}

TEST(StringTableLookup, UnknownIdsGiveAnEmptyView) {
  for (int id : {INT_MIN, -1006, -1, 0, 2, 5, 9, 26, 999, 1000, 1002, 1999, 2006, 40001, 40019,
                 41019, 42002, INT_MAX}) {
    EXPECT_TRUE(LoadString(id).empty()) << "id " << id;
    EXPECT_FALSE(HasString(id)) << "id " << id;
  }
  EXPECT_TRUE(HasString(1));
  EXPECT_TRUE(HasString(41018));
}

TEST(StringTableLookup, LoadTextAddsTheLanguageOffset) {
  EXPECT_EQ(LoadText(Language::kItalian, 6), "RISORSE DEL COMPUTER"sv);
  EXPECT_EQ(LoadText(Language::kEnglish, 6), "My Computer"sv);
  EXPECT_EQ(LoadText(Language::kEnglish, 40011), "Scan"sv);
  EXPECT_EQ(LoadText(Language::kItalian, 40011), "Ricerca"sv);
  // A value outside the enum is Italian, never some other thousand.
  EXPECT_EQ(LoadText(static_cast<Language>(2), 21), "SCANSIONE DELLA MEMORIA"sv);
  EXPECT_TRUE(LoadText(Language::kEnglish, -1000).empty());
  EXPECT_TRUE(LoadText(Language::kEnglish, INT_MAX).empty());
  EXPECT_TRUE(LoadText(Language::kItalian, INT_MAX).empty());
}

TEST(StringTableLookup, LanguageSettingOneIsEnglishAnythingElseItalian) {
  EXPECT_EQ(LanguageFromSetting(0), Language::kItalian);
  EXPECT_EQ(LanguageFromSetting(1), Language::kEnglish);
  EXPECT_EQ(LanguageFromSetting(2), Language::kItalian);
  EXPECT_EQ(LanguageFromSetting(0x101), Language::kItalian);
  EXPECT_EQ(LanguageFromSetting(0xFFFFFFFF), Language::kItalian);
}

// The status bar's file-filter part is padded; the blanks are part of the text and are
// loaded into 32-byte buffers with the heuristics texts.
TEST(StatusBarTexts, FileFilterTextsKeepTheirPadding) {
  EXPECT_EQ(LoadString(10), "FILES: EXE COM SYS OV? DO?   "sv);
  EXPECT_EQ(LoadString(1010), "FILES: EXE COM SYS OV? DO?   "sv);
  EXPECT_EQ(LoadString(11), "FILES: TUTTI                 "sv);
  EXPECT_EQ(LoadString(1011), "FILES: ALL                 "sv);
  EXPECT_EQ(TrailingBlanks(LoadString(10)), 3u);
  EXPECT_EQ(TrailingBlanks(LoadString(1010)), 3u);
  EXPECT_EQ(TrailingBlanks(LoadString(11)), 17u);
  EXPECT_EQ(TrailingBlanks(LoadString(1011)), 17u);
  for (int id : {10, 11, 12, 13, 1010, 1011, 1012, 1013}) {
    EXPECT_LT(LoadString(id).size(), 32u) << "id " << id;
  }
  EXPECT_EQ(LoadString(12), "EURI: OFF"sv);
  EXPECT_EQ(LoadString(1013), "EURI: ON"sv);
}

TEST(StatusBarTexts, ActionTextIsLoadedAsFourteenPlusTheAction) {
  struct Case {
    int action;
    std::string_view italian;
    std::string_view english;
  };
  const Case cases[] = {
      {0, "AZIONE: SOLO RICERCA", "ACTION: ONLY SCAN"},
      {1, "AZIONE: RICERCA CON RIMOZIONE VIRUS AUTOMATICA",
       "ACTION: CLEAN INFECTED FILES AUTOMATICALLY"},
      {2, "AZIONE: RICERCA CON RIMOZIONE VIRUS CON RICHIESTA", "ACTION: CLEAN INFECTED FILES ASK"},
      {3, "AZIONE: RICERCA CON CANCELLAZIONE FILES AUTOMATICA",
       "ACTION: DELETE INFECTED FILES AUTOMATICALLY"},
      {4, "AZIONE: RICERCA CON CANCELLAZIONE FILES CON RICHIESTA",
       "ACTION: DELETE INFECTED FILES ASK"},
      {5, "AZIONE: RICERCA CON RINOMINAZIONE FILES AUTOMATICA",
       "ACTION: RENAME INFECTED FILES AUTOMATICALLY"},
      {6, "AZIONE: RICERCA CON RINOMINAZIONE FILES CON RICHIESTA",
       "ACTION: RENAME INFECTED FILES ASK"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LoadText(Language::kItalian, 14 + c.action), c.italian) << "action " << c.action;
    EXPECT_EQ(LoadText(Language::kEnglish, 14 + c.action), c.english) << "action " << c.action;
  }
}

// The options dialog offers the actions in the status bar's words, so the two must not
// drift apart: list entry 107 + a is status text 14 + a without its label.
TEST(OptionsDialogTexts, ActionListMatchesTheStatusTexts) {
  for (int action = 0; action <= 6; ++action) {
    for (Language language : {Language::kItalian, Language::kEnglish}) {
      const std::string_view label = language == Language::kItalian ? "AZIONE: " : "ACTION: ";
      const std::string status(LoadText(language, 14 + action));
      EXPECT_EQ(std::string(label) + std::string(LoadText(language, 107 + action)), status)
          << "action " << action;
    }
  }
  EXPECT_EQ(LoadString(105), "EXE COM SYS OV? DO?   "sv);
  EXPECT_EQ(LoadString(1105), "EXE COM SYS OV? DO?   "sv);
  EXPECT_EQ(LoadString(101), "Opzioni"sv);
  EXPECT_EQ(LoadString(1115), "Disable Quarn Security Monitor"sv);
}

TEST(ResultLineTexts, MemoryScanTexts) {
  EXPECT_EQ(LoadString(21), "SCANSIONE DELLA MEMORIA"sv);
  EXPECT_EQ(LoadString(1021), "SCANNING MEMORY"sv);
  EXPECT_EQ(LoadString(22), "VIRUS ATTIVO IN MEMORIA: "sv);
  EXPECT_EQ(LoadString(1022), "VIRUS FOUND IN MEMORY: "sv);
}

// A verdict line is path + text + name: the blanks on both sides are what separate them.
TEST(ResultLineTexts, VerdictTextsCarryTheirSeparatingBlanks) {
  EXPECT_EQ(LoadString(23), " Infetto da "sv);
  EXPECT_EQ(LoadString(1023), " Infect of "sv);
  EXPECT_EQ(LoadString(24), " Possibile variante da "sv);
  EXPECT_EQ(LoadString(1024), " Possible variant of "sv);
  EXPECT_EQ(LoadString(25), " Possibile infezione da virus di nuova generazione"sv);
  EXPECT_EQ(LoadString(1025), " Possible infection of virus new generation"sv);
}

TEST(ResultLineTexts, TotalLabels) {
  EXPECT_EQ(LoadString(31), "Files Infetti: "sv);
  EXPECT_EQ(LoadString(1033), "Files scanned: "sv);
  EXPECT_EQ(LoadString(35), "Virus Rimossi: "sv);
  EXPECT_EQ(LoadString(1035), "Files cleaned: "sv);
  EXPECT_EQ(LoadString(37), "Files Rinominati: "sv);
  // The English renamed label is the one total without a trailing blank.
  EXPECT_EQ(LoadString(1037), "Files renamed:"sv);
}

TEST(StatusBarTexts, CounterLabelsAndStartPrompt) {
  EXPECT_EQ(LoadString(431), "File Analizzati: "sv);
  EXPECT_EQ(LoadString(1431), "Scanned: "sv);
  EXPECT_EQ(LoadString(432), "File Infetti: "sv);
  EXPECT_EQ(LoadString(1432), "Files Infected: "sv);
  EXPECT_EQ(LoadString(433), "File Totali: "sv);
  EXPECT_EQ(LoadString(1433), "Files Totals: "sv);
  EXPECT_EQ(LoadString(430), "Seleziona il DRIVE da scandire e premi il pulsante di RICERCA."sv);
  EXPECT_EQ(LoadString(1430), "Select a DRIVE and click on SCAN button."sv);
}

TEST(WindowTexts, TreeRootAndListColumnFitTheirControls) {
  EXPECT_EQ(LoadString(1), "Messaggi"sv);
  EXPECT_EQ(LoadString(1001), "Messages"sv);
  EXPECT_EQ(LoadString(6), "RISORSE DEL COMPUTER"sv);
  EXPECT_EQ(LoadString(1006), "My Computer"sv);
  EXPECT_LE(LoadString(6).size(), 31u);
  EXPECT_LE(LoadString(1006).size(), 31u);
}

TEST(DialogTexts, SchedulerWeekdaysRunMondayToSunday) {
  EXPECT_EQ(LoadString(412), "Luned\xC3\xAC"sv);
  EXPECT_EQ(LoadString(418), "Domenica"sv);
  EXPECT_EQ(LoadString(1412), "Monday"sv);
  EXPECT_EQ(LoadString(1418), "Sunday"sv);
  EXPECT_EQ(LoadString(408), "All'avvio"sv);
  EXPECT_EQ(LoadString(1408), "Once"sv);
  EXPECT_EQ(LoadString(351), "Attenzione VIRUS FOUND"sv);
  EXPECT_EQ(LoadString(1351), "Warning VIRUS FOUND"sv);
  EXPECT_EQ(LoadString(302), "Formato Disco"sv);
  EXPECT_EQ(LoadString(1203), "Connect to O.R.V.N."sv);
}

// Every toolbar button asks for its command id + language × 1000 into a 128-byte buffer.
TEST(ToolbarTooltips, EveryButtonHasATooltipInBothLanguages) {
  for (int command :
       {40011, 40013, 40012, 40002, 40009, 40017, 40015, 40014, 40016, 40003, 40004}) {
    for (Language language : {Language::kItalian, Language::kEnglish}) {
      const std::string_view tip = LoadText(language, command);
      EXPECT_FALSE(tip.empty()) << "command " << command;
      EXPECT_LT(tip.size(), 128u) << "command " << command;
    }
  }
  EXPECT_EQ(LoadString(40002), "Stampa"sv);
  EXPECT_EQ(LoadString(41002), "Print"sv);
  EXPECT_EQ(LoadString(41013), "Stop"sv);
}

}  // namespace
}  // namespace quarn
