#include "engine/scan_options.h"

#include <gtest/gtest.h>

namespace quarn {
namespace {

TEST(ScanOptions, UnpacksOneSettingPerByteLeastSignificantFirst) {
  ScanOptions options = ScanOptions::Unpack(0x01010601);  // bytes 1, 6, 1, 1
  EXPECT_EQ(options.file_filter, 1u);
  EXPECT_EQ(options.scan_action, 6u);
  EXPECT_EQ(options.heuristics_enabled, 1u);
  EXPECT_EQ(options.network_resources, 1u);
  EXPECT_EQ(options.Pack(), 0x01010601u);
}

// The texts the loader shows at start-up are checked there; these are the others.
TEST(ScanOptions, StatusTextsInBothLanguages) {
  EXPECT_EQ(HeuristicsStatusText(Language::kEnglish, 0), "EURI: OFF");
  EXPECT_EQ(HeuristicsStatusText(Language::kEnglish, 7), "EURI: OFF");  // any other value is off
  EXPECT_EQ(ScanActionStatusText(Language::kItalian, 6),
            "AZIONE: RICERCA CON RINOMINAZIONE FILES CON RICHIESTA");
  EXPECT_EQ(ScanActionStatusText(Language::kEnglish, 1),
            "ACTION: CLEAN INFECTED FILES AUTOMATICALLY");
  EXPECT_EQ(FileFilterStatusText(Language::kItalian, 2), "") << "no text, an empty part";
  EXPECT_EQ(ScanActionStatusText(Language::kEnglish, 7), "");
}

}  // namespace
}  // namespace quarn
