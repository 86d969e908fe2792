#include "dbtool/encyclopedia.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dbtool/html_text.h"
#include "engine/database_builder.h"
#include "platform/text_encoding.h"

namespace quarn {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

struct Database {
  DatabaseImage signatures;
  DatabaseImage names;
};

Database Build(const std::map<uint32_t, std::string>& names, uint32_t name_records = 0) {
  DatabaseContent content;
  content.version = 7;
  content.month = 3;
  content.year = 2027;
  content.names = names;
  content.name_records = name_records;
  return {DatabaseImage(*BuildSignatureImage(content)), DatabaseImage(*BuildNameImage(content))};
}

std::vector<uint32_t> Ids(const std::vector<VirusNameEntry>& entries) {
  std::vector<uint32_t> ids;
  for (const VirusNameEntry& entry : entries) ids.push_back(entry.id);
  return ids;
}

bool IsWellFormedUtf8(std::string_view text) {
  for (size_t at = 0; at < text.size();) {
    const size_t length = Utf8SequenceAt(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

// Markup characters become references, bytes that are not UTF-8 U+FFFD, controls "?".
TEST(EscapeHtml, LeavesOnlyTextThatShowsAsItself) {
  EXPECT_EQ(EscapeHtml("a<b>&\"c\"'d'"), "a&lt;b&gt;&amp;&quot;c&quot;&#39;d&#39;");
  EXPECT_EQ(EscapeHtml("&amp;"), "&amp;amp;");
  EXPECT_EQ(EscapeHtml("\xC3"), "\xEF\xBF\xBD");                  // cut short
  EXPECT_EQ(EscapeHtml("\xC0\xBC"), "\xEF\xBF\xBD\xEF\xBF\xBD");  // overlong "<"
  EXPECT_EQ(EscapeHtml("Caf\xC3\xA9"), "Caf\xC3\xA9");
  EXPECT_EQ(EscapeHtml(std::string("a\0b\nc\x7F", 6)), "a?b?c?");
  EXPECT_EQ(EscapeHtml("x\xC2\x85y"), "x?y");     // NEXT LINE, a C1 control
  EXPECT_EQ(EscapeHtml("\xC2\xA0"), "\xC2\xA0");  // no-break space is text
}

TEST(SortedVirusNames, SortsByNameIgnoringCaseThenById) {
  Database database =
      Build({{5, "beta"}, {9, "alpha"}, {3, "Alpha"}, {2, "Gamma"}, {7, "ALPHA"}, {4, "alpha.b"}});
  std::vector<VirusNameEntry> entries = SortedVirusNames(database.names);
  EXPECT_THAT(Ids(entries), ElementsAre(3, 7, 9, 4, 5, 2));
  EXPECT_EQ(entries[0].name, "Alpha");
  // Ids without a name are left out.
  EXPECT_THAT(Ids(SortedVirusNames(Build({{2, "Two"}}, /*name_records=*/40).names)),
              ElementsAre(2));
}

TEST(FormatEncyclopedia, ListsEveryNameOnceInOrder) {
  Database database = Build({{12, "Zeta"}, {11, "eta"}});
  const std::string page = FormatEncyclopedia(database.signatures, database.names);
  const size_t eta = page.find("<tr id=\"v11\"><td>eta</td>");
  const size_t zeta = page.find("<tr id=\"v12\"><td>Zeta</td>");
  ASSERT_NE(eta, std::string::npos);
  ASSERT_NE(zeta, std::string::npos);
  EXPECT_LT(eta, zeta);
  EXPECT_THAT(page, HasSubstr("Database version 7 of 03/2027, 2 names."));
}

TEST(FormatEncyclopedia, ExplainsEveryFixedId) {
  std::map<uint32_t, std::string> names;
  for (uint32_t id : kFixedVirusIds) names[id] = "Fixed" + std::to_string(id);
  Database database = Build(names);
  const std::string page = FormatEncyclopedia(database.signatures, database.names);
  ASSERT_EQ(FixedIdNotes().size(), std::size(kFixedVirusIds));
  for (size_t i = 0; i < FixedIdNotes().size(); ++i) {
    const FixedIdNote& note = FixedIdNotes()[i];
    EXPECT_EQ(note.id, kFixedVirusIds[i]);
    EXPECT_THAT(page, HasSubstr("<td class=\"id\">" + std::to_string(note.id) + "</td><td>Fixed" +
                                std::to_string(note.id) + "</td><td>" + std::string(note.meaning)));
  }
}

TEST(FormatEncyclopedia, AnEmptyDatabaseStillMakesAPage) {
  for (const Database& database : {Build({}), Database{DatabaseImage(), DatabaseImage()}}) {
    const std::string page = FormatEncyclopedia(database.signatures, database.names);
    EXPECT_THAT(page, HasSubstr("0 names."));
    EXPECT_THAT(page, HasSubstr("The database names no virus."));
    EXPECT_THAT(page, HasSubstr("<td class=\"id\">90</td><td>(no name)</td>"));
    EXPECT_THAT(page, HasSubstr("</html>\n"));
  }
}

TEST(FormatEncyclopedia, NamesCannotAddMarkup) {
  Database database =
      Build({{1, "<script>x()</script>"}, {2, "<b onclick='x'>&\xFF</b>"}, {90, "</td></tr>"}});
  const std::string page = FormatEncyclopedia(database.signatures, database.names);
  EXPECT_THAT(page, Not(HasSubstr("<script>")));
  EXPECT_THAT(page, Not(HasSubstr("<b ")));
  EXPECT_THAT(page, Not(HasSubstr("</td></tr></td>")));
  EXPECT_THAT(page, HasSubstr("<td>&lt;script&gt;x()&lt;/script&gt;</td>"));
  EXPECT_THAT(page, HasSubstr("<td>&lt;b onclick=&#39;x&#39;&gt;&amp;\xEF\xBF\xBD&lt;/b&gt;</td>"));
  EXPECT_THAT(page, HasSubstr("<td>&lt;/td&gt;&lt;/tr&gt;</td>"));
  EXPECT_TRUE(IsWellFormedUtf8(page));
}

}  // namespace
}  // namespace quarn
