#include "platform/registry_document.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarn {
namespace {

RegistryDocument Parse(std::string_view text) {
  Result<RegistryDocument> parsed = ParseRegistryText(text, "settings.reg");
  EXPECT_TRUE(parsed.ok()) << parsed.message();
  return parsed.ok() ? *parsed : RegistryDocument();
}

std::string ParseError(std::string_view text) {
  Result<RegistryDocument> parsed = ParseRegistryText(text, "dir/settings.reg");
  EXPECT_FALSE(parsed.ok()) << "parsed:\n" << text;
  return parsed.message();
}

RegistryValue Bytes(uint32_t type, std::vector<uint8_t> data) {
  return {type, std::move(data)};
}

// The document after a rewrite, checked to be the one written.
RegistryDocument RoundTrip(const RegistryDocument& document) {
  std::string text = FormatRegistryText(document);
  RegistryDocument again = Parse(text);
  EXPECT_EQ(again, document) << text;
  EXPECT_EQ(FormatRegistryText(again), text);
  return again;
}

TEST(RegistryTextTest, ReadsEveryDataForm) {
  RegistryDocument document = Parse(
      "REGEDIT4\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QuarnExp]\r\n"
      "\"Text\"=\"a \\\\ b \\\" c\\nd\"\r\n"
      "\"Word\"=dword:12Ab34cD\r\n"
      "\"Bin\"=hex:01,Fe,00\r\n"
      "\"Empty\"=hex:\r\n"
      "\"Expand\"=hex(2):41,00\r\n"
      "\"Wide\"=hex(fFfFfFfF):aa,\\\r\n\t bb\r\n"
      "@=\"default\"\r\n");
  EXPECT_EQ(*document.FindValue(kProgramKey, "Text"), RegistryValue::Text("a \\ b \" c\nd"));
  EXPECT_EQ(*document.FindValue(kProgramKey, "Word"), Bytes(kRegDword, {0xcd, 0x34, 0xab, 0x12}));
  EXPECT_EQ(*document.FindValue(kProgramKey, "Bin"), Bytes(kRegBinary, {0x01, 0xfe, 0x00}));
  EXPECT_EQ(*document.FindValue(kProgramKey, "Empty"), Bytes(kRegBinary, {}));
  EXPECT_EQ(*document.FindValue(kProgramKey, "Expand"), Bytes(kRegExpandSz, {0x41, 0x00}));
  EXPECT_EQ(*document.FindValue(kProgramKey, "Wide"), Bytes(0xffffffff, {0xaa, 0xbb}));
  EXPECT_EQ(document.ReadText(kProgramKey, ""), "default");
  EXPECT_EQ(document.ValueNames(kProgramKey),
            (std::vector<std::string>{"Text", "Word", "Bin", "Empty", "Expand", "Wide", ""}));
}

TEST(RegistryTextTest, ToleratesByteOrderMarkLfEndsBlanksAndNoFinalEol) {
  RegistryDocument document = Parse("\xEF\xBB\xBFREGEDIT4\n \t\n\n  [K]  \n\t\"v\"=\"x\"\t");
  EXPECT_EQ(document.ReadText("K", "v"), "x");
}

TEST(RegistryTextTest, DeletionLinesRemoveWhatCameBefore) {
  RegistryDocument document = Parse(
      "REGEDIT4\n"
      "[-HKEY_CURRENT_USER\\Old]\n\"below\"=\"a deleted key, skipped as regedit does\"\n"
      "[A]\n\"keep\"=\"1\"\n\"gone\"=\"2\"\n\"GONE\"=-\n\"never\"=-\n"
      "[A\\B]\n\"x\"=\"1\"\n[a\\b\\C]\n[A\\BC]\n"
      "[-a\\B]\n"
      "[-Absent\\Key]\n\"keep\"=-\n");
  EXPECT_EQ(document.ValueNames("A"), std::vector<std::string>{"keep"});
  EXPECT_FALSE(document.HasKey("A\\B"));
  EXPECT_FALSE(document.HasKey("A\\B\\C"));
  // A sibling whose name merely starts the same is not below the deleted key.
  EXPECT_TRUE(document.HasKey("A\\BC"));
  EXPECT_EQ(document.SubkeysOf("A"), std::vector<std::string>{"A\\BC"});
}

TEST(RegistryTextTest, CaseFirstWrittenIsKeptAndLookupsIgnoreCase) {
  RegistryDocument document =
      Parse("REGEDIT4\n[Soft\\Quarn]\n\"Opzioni\"=\"1\"\n[SOFT\\QUARN]\n\"OPZIONI\"=\"2\"\n");
  ASSERT_EQ(document.keys().size(), 1u);
  EXPECT_EQ(document.keys()[0].path, "Soft\\Quarn");
  EXPECT_EQ(document.ValueNames("soft\\quarn"), std::vector<std::string>{"Opzioni"});
  EXPECT_EQ(document.ReadText("sOfT\\qUaRn", "opzionI"), "2");
  // Only ASCII letters fold: other bytes must match exactly.
  RegistryDocument accented = Parse("REGEDIT4\n[K]\n\"\xC3\xA0\"=\"1\"\n");
  EXPECT_EQ(accented.FindValue("K", "\xC3\x80"), nullptr);

  RegistryDocument rewritten = RoundTrip(document);
  EXPECT_NE(FormatRegistryText(rewritten).find("[Soft\\Quarn]\r\n\"Opzioni\"=\"2\""),
            std::string::npos);
}

TEST(RegistryTextTest, MalformedInputNamesFileLineAndCause) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"", "dir/settings.reg, line 1: the first line is not \"REGEDIT4\""},
      {"Windows Registry Editor Version 5.00\n", "line 1: the first line is not"},
      {"REGEDIT4\n\"v\"=\"x\"\n", "line 2: a value must follow a key"},
      {"REGEDIT4\n@=-\n", "line 2: a value must follow a key"},
      {"REGEDIT4\n[-K]\n\"v\"=\"x\"y\n", "line 3: unexpected text after the closing quote"},
      {"REGEDIT4\n[K]\n\"v\" \"x\"\n", "line 3: missing '='"},
      {"REGEDIT4\n[K]\nv=\"x\"\n", "line 3: expected a key, a value or a comment"},
      {"REGEDIT4\n[K\n", "line 2: a key line must end with ']'"},
      {"REGEDIT4\n[]\n", "line 2: empty key path"},
      {"REGEDIT4\n[-]\n", "line 2: empty key path"},
      {"REGEDIT4\n[K]\n\"v\"=\"C:\\DOS\"\n", "line 3: unknown escape \"\\D\""},
      {"REGEDIT4\n[K]\n\"v\"=\"open\n", "line 3: missing closing quote"},
      {"REGEDIT4\n[K]\n\"v\"=\"\\\x1b\"\n", "line 3: unknown escape \"\\x1b\""},
      {"REGEDIT4\n[K]\n\"v\"=\"x\"y\n", "line 3: unexpected text after the closing quote"},
      {"REGEDIT4\n[K]\n\"v\"=dword:1234567\n", "line 3: a dword needs exactly 8 hex digits"},
      {"REGEDIT4\n[K]\n\"v\"=dword:123456789\n", "line 3: a dword needs exactly 8 hex digits"},
      {"REGEDIT4\n[K]\n\"v\"=dword:1234567g\n", "line 3: a dword needs exactly 8 hex digits"},
      {"REGEDIT4\n[K]\n\"v\"=hex:1,02\n", "line 3: expected a byte of 2 hex digits"},
      {"REGEDIT4\n[K]\n\"v\"=hex:01;02\n", "line 3: expected ',' between bytes"},
      {"REGEDIT4\n[K]\n\"v\"=hex:01,\n", "line 3: the hex list ends with ','"},
      {"REGEDIT4\n[K]\n\"v\"=hex:01,\\\n\n", "line 4: expected a byte of 2 hex digits"},
      {"REGEDIT4\n[K]\n\"v\"=hex:01,\\\n", "line 3: the hex list continues past the end"},
      {"REGEDIT4\n[K]\n\"v\"=hex(100000000):00\n", "line 3: the type in hex(TYPE) is larger"},
      {"REGEDIT4\n[K]\n\"v\"=hex(zz):00\n", "line 3: the type in hex(TYPE) must be hex"},
      {"REGEDIT4\n[K]\n\"v\"=hex():00\n", "line 3: expected hex(TYPE):"},
      {"REGEDIT4\n[K]\n\"v\"=qword:00\n", "line 3: unknown value type"},
      {"REGEDIT4\r\n[K]\r\n\r\n;c\r\n\"a\"=\"1\"\r\n\"b\"=\r\n", "line 6: unknown value type"},
  };
  for (const Case& c : cases) {
    std::string message = ParseError(c.text);
    EXPECT_NE(message.find(c.message), std::string::npos) << "input:\n"
                                                          << c.text << "\nmessage: " << message;
    EXPECT_TRUE(message.starts_with("dir/settings.reg, line ")) << message;
  }
}

TEST(RegistryTextTest, FormatsLikeTheRegistryEditor) {
  RegistryDocument document;
  document.SetValue(kProgramKey, "Opzioni", RegistryValue::Number(0x1f));
  document.SetValue(kProgramKey, "Day", Bytes(kRegDword, {0xef, 0xbe, 0xad, 0xde}));
  document.SetValue(kProgramKey, "Path", RegistryValue::Text("C:\\DOS \"x\"\ny"));
  document.SetValue(kProgramKey, "", Bytes(kRegExpandSz, {0xAB}));
  document.SetValue(kProgramKey, "Short", Bytes(kRegDword, {1, 2}));
  document.CreateKey("Empty");
  EXPECT_EQ(FormatRegistryText(document),
            "REGEDIT4\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QuarnExp]\r\n"
            "\"Opzioni\"=hex:1f,00,00,00\r\n"
            "\"Day\"=dword:deadbeef\r\n"
            "\"Path\"=\"C:\\\\DOS \\\"x\\\"\\ny\"\r\n"
            "@=hex(2):ab\r\n"
            "\"Short\"=hex(4):01,02\r\n"
            "\r\n"
            "[Empty]\r\n"
            "\r\n");
  EXPECT_EQ(FormatRegistryText(RegistryDocument()), "REGEDIT4\r\n\r\n");
}

TEST(RegistryTextTest, LongHexListsWrapNearEightyColumns) {
  RegistryDocument document;
  document.SetValue("K", "ShellState", Bytes(kRegBinary, std::vector<uint8_t>(100, 0x5a)));
  document.SetValue("K", std::string(120, 'n'), Bytes(kRegBinary, {1, 2}));
  std::string text = FormatRegistryText(document);
  std::vector<std::string> lines;
  for (size_t start = 0, end; start < text.size(); start = end + 2) {
    end = text.find("\r\n", start);
    lines.push_back(text.substr(start, end - start));
  }
  // As the registry editor wraps: 20 bytes after "ShellState"=hex:, then 25 per line.
  ASSERT_GE(lines.size(), 8u);
  EXPECT_EQ(lines[3].size(), 78u);
  EXPECT_TRUE(lines[3].ends_with("5a,\\"));
  std::string full_line = "  ";
  for (int i = 0; i < 25; ++i) full_line += "5a,";
  EXPECT_EQ(lines[4], full_line + "\\");
  EXPECT_EQ(lines[6], full_line + "\\");
  EXPECT_EQ(lines[7], "  5a,5a,5a,5a,5a");
  // A name longer than a line still keeps the first byte beside it.
  EXPECT_EQ(lines[8], "\"" + std::string(120, 'n') + "\"=hex:01,\\");
  EXPECT_EQ(lines[9], "  02");
  RoundTrip(document);
}

TEST(RegistryTextTest, EveryByteOfATextSurvivesARewrite) {
  std::string all;
  for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
  RegistryDocument document;
  document.SetValue("K", all, RegistryValue::Text(all + "\\\"\n\r"));
  // Only the CR of a CR LF ends a line: one that belongs to a comment stays.
  document.mutable_keys()[0].comments = {"", "ends in CR\r", all.substr(11)};
  document.trailing_comments() = {"\r\r"};
  RoundTrip(document);
}

TEST(RegistryTextTest, CommentsStayWithWhatFollowsThem) {
  RegistryDocument document = Parse(
      "REGEDIT4\n"
      "; about the key\n"
      "  ;indented\n"
      "[K]\n"
      ";about a\n"
      "\"a\"=\"1\"\n"
      "; passed on by a deletion\n"
      "\"gone\"=-\n"
      "\"b\"=\"2\"\n"
      ";second note on a\n"
      "\"A\"=\"3\"\n"
      "; at the end\r\n");
  ASSERT_EQ(document.keys().size(), 1u);
  const RegistryDocument::Key& key = document.keys()[0];
  EXPECT_EQ(key.comments, (std::vector<std::string>{" about the key", "indented"}));
  EXPECT_EQ(key.values[0].comments, (std::vector<std::string>{"about a", "second note on a"}));
  EXPECT_EQ(key.values[1].comments, std::vector<std::string>{" passed on by a deletion"});
  EXPECT_EQ(document.trailing_comments(), std::vector<std::string>{" at the end"});
  std::string text = FormatRegistryText(RoundTrip(document));
  EXPECT_NE(text.find("; about the key\r\n;indented\r\n[K]\r\n;about a\r\n;second note on a\r\n"
                      "\"a\"=\"3\"\r\n"),
            std::string::npos)
      << text;
  EXPECT_TRUE(text.ends_with("\r\n; at the end\r\n")) << text;
}

TEST(RegistryDocumentTest, EditsKeepOrderAndFirstCase) {
  RegistryDocument document;
  document.SetValue("Soft\\Quarn", "First", RegistryValue::Text("1"));
  document.SetValue("Soft\\Quarn", "Second", RegistryValue::Text("2"));
  document.SetValue("SOFT\\QUARN", "FIRST", RegistryValue::Text("changed"));
  EXPECT_EQ(document.keys().size(), 1u);
  EXPECT_EQ(document.keys()[0].path, "Soft\\Quarn");
  EXPECT_EQ(document.ValueNames("soft\\quarn"), (std::vector<std::string>{"First", "Second"}));
  EXPECT_EQ(document.ReadText("Soft\\Quarn", "first"), "changed");

  document.DeleteValue("soft\\QUARN", "first");
  document.DeleteValue("soft\\QUARN", "absent");
  document.DeleteValue("absent", "Second");
  EXPECT_EQ(document.ValueNames("Soft\\Quarn"), std::vector<std::string>{"Second"});
  document.SetValue("Soft\\Quarn", "first", RegistryValue::Text("back"));
  EXPECT_EQ(document.ValueNames("Soft\\Quarn"), (std::vector<std::string>{"Second", "first"}));
  RoundTrip(document);
}

TEST(RegistryDocumentTest, KeysBelowAndTheirDeletion) {
  RegistryDocument document;
  document.CreateKey("A\\B\\C");
  document.CreateKey("a\\b");
  document.CreateKey("A\\Bee");
  document.CreateKey("Z");
  document.CreateKey("A\\B");  // already there, in another case
  EXPECT_EQ(document.keys().size(), 4u);
  // A stored subkey implies its parents, as in the registry.
  EXPECT_TRUE(document.HasKey("a"));
  EXPECT_TRUE(document.HasKey("A\\B\\c"));
  EXPECT_FALSE(document.HasKey("A\\B\\C\\D"));
  EXPECT_FALSE(document.HasKey("A\\Be"));
  EXPECT_EQ(document.SubkeysOf("A"), (std::vector<std::string>{"A\\B\\C", "a\\b", "A\\Bee"}));
  EXPECT_EQ(document.SubkeysOf("a\\B"), std::vector<std::string>{"A\\B\\C"});
  EXPECT_TRUE(document.ValueNames("A\\B").empty());

  document.DeleteKey("A\\b");
  EXPECT_FALSE(document.HasKey("A\\B"));
  EXPECT_FALSE(document.HasKey("A\\B\\C"));
  EXPECT_TRUE(document.HasKey("A\\Bee"));
  document.DeleteKey("a");
  ASSERT_EQ(document.keys().size(), 1u);
  EXPECT_EQ(document.keys()[0].path, "Z");
}

TEST(RegistryTextTest, InterleavedDeletionsOfManyKeys) {
  // Thousands of keys sharing parents, deleted and written again: the indexes that keep a
  // hostile store from parsing in quadratic time must follow every deletion.
  std::string text = "REGEDIT4\n";
  for (int i = 0; i < 10000; ++i) {
    std::string parent = "Root\\K" + std::to_string(i % 5000);
    text += "[" + parent + "\\S" + std::to_string(i) + "]\n\"v\"=hex:01\n";
    if (i < 5000 && i % 7 == 0) text += "[-" + parent + "]\n";
  }
  RegistryDocument document = Parse(text);
  EXPECT_FALSE(document.HasKey("Root\\K0\\S0"));
  EXPECT_FALSE(document.HasKey("Root\\K14\\S14"));
  EXPECT_TRUE(document.HasKey("Root\\K14\\S5014"));
  EXPECT_TRUE(document.HasKey("Root\\K1\\S1"));
  EXPECT_EQ(document.SubkeysOf("root\\k7"), std::vector<std::string>{"Root\\K7\\S5007"});
  EXPECT_EQ(document.SubkeysOf("root\\k8"),
            (std::vector<std::string>{"Root\\K8\\S8", "Root\\K8\\S5008"}));
  EXPECT_EQ(document.keys().size(), 10000u - 715u);
}

}  // namespace
}  // namespace quarn
