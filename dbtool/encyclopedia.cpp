#include "dbtool/encyclopedia.h"

#include <algorithm>
#include <cstdio>

#include "dbtool/html_text.h"
#include "engine/database_version.h"
#include "engine/section_directory.h"
#include "engine/virus_names.h"

namespace quarn {
namespace {

constexpr FixedIdNote kFixedIdNotes[] = {
    {90,
     "A pattern signature shared by a family of appending viruses matched, in a file whose "
     "time stamp looks ordinary."},
    {101,
     "The same pattern as 90, in a file whose last-write time shows 62 seconds: the mark "
     "such viruses leave on the files they have infected."},
    {220,
     "A pattern signature matched and its confirmation bytes were found at the very start "
     "of the file."},
    {332,
     "Tracing the code at the entry point of a program that is not an EXE file found a "
     "loop that decrypts the rest of the program."},
    {333, "The entry point calls into a decryption routine of a known shape."},
    {334,
     "The same decryption loop as 332 in an EXE file, or a second known shape of entry "
     "call."},
    {335,
     "The entry code saves AX, decrypts memory through a pointer in a loop and restores AX: "
     "a decryptor in front of an encrypted virus."},
    {368,
     "The entry code jumps through a chain of returns into words of its own stack and then "
     "calls DOS, a way of hiding where the virus body starts."},
    {727, "A third known shape of entry call into a decryption routine."},
    {728, "A fourth known shape of entry call into a decryption routine."},
    {729, "A fifth known shape of entry call into a decryption routine."},
    {846,
     "A boot record whose loader reads a moved original boot sector back into the boot "
     "area before running it, as boot viruses do."},
    {847,
     "A boot record whose loader reads a moved original boot sector to memory past the boot "
     "area, the other way boot viruses hand over to it."},
};
static_assert(std::size(kFixedIdNotes) == std::size(kFixedVirusIds),
              "every fixed VirusId needs a note");

constexpr std::string_view kPageStart = R"(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Quarn Explorer: virus encyclopedia</title>
<style>
body { font-family: sans-serif; margin: 2em; color: #202020; }
h1 { color: #1b3f8f; }
table { border-collapse: collapse; }
th, td { border: 1px solid #c0c6ce; padding: 0.2em 0.6em; text-align: left; vertical-align: top; }
th { background: #e8f0fc; }
td.id { text-align: right; font-family: monospace; }
</style>
</head>
<body>
<h1>Virus encyclopedia</h1>
)";

constexpr std::string_view kFixedIntroduction =
    "<p>Most names are found by a signature of their own. The ids below are reported by "
    "detectors that recognise the way a virus behaves rather than its bytes, so each one "
    "names what was found, not a single virus.</p>\n";

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool NameOrderLess(const VirusNameEntry& a, const VirusNameEntry& b) {
  const auto folded_less = [](char x, char y) {
    return static_cast<unsigned char>(AsciiLower(x)) < static_cast<unsigned char>(AsciiLower(y));
  };
  if (std::lexicographical_compare(a.name.begin(), a.name.end(), b.name.begin(), b.name.end(),
                                   folded_less)) {
    return true;
  }
  if (std::lexicographical_compare(b.name.begin(), b.name.end(), a.name.begin(), a.name.end(),
                                   folded_less)) {
    return false;
  }
  return a.id < b.id;
}

std::string IdCell(uint32_t id) {
  return "<td class=\"id\">" + std::to_string(id) + "</td>";
}

std::string Summary(const DatabaseImage& signatures, size_t name_count) {
  const DatabaseVersion version = ReadDatabaseVersion(signatures);
  char date[16];
  std::snprintf(date, sizeof date, "%02u/%04u", static_cast<unsigned>(version.month),
                static_cast<unsigned>(version.year));
  return "<p>Database version " + std::to_string(version.version) + " of " + date + ", " +
         std::to_string(name_count) + (name_count == 1 ? " name" : " names") + ".</p>\n";
}

std::string FixedIdSection(const DatabaseImage& names) {
  std::string html = "<h2>Findings without a signature of their own</h2>\n";
  html += kFixedIntroduction;
  html += "<table>\n<tr><th>Id</th><th>Name</th><th>What was found</th></tr>\n";
  const uint32_t count = NameRecordCount(names);
  for (const FixedIdNote& note : kFixedIdNotes) {
    // Past the table's end the engine shows "#<id>"; here that is simply a missing name.
    const std::string name = note.id <= count ? GetVirusName(names, note.id) : std::string();
    html += "<tr>" + IdCell(note.id) + "<td>" +
            (name.empty() ? std::string("(no name)") : EscapeHtml(name)) + "</td><td>" +
            std::string(note.meaning) + "</td></tr>\n";
  }
  return html + "</table>\n";
}

std::string NameSection(const std::vector<VirusNameEntry>& entries) {
  std::string html = "<h2>All names</h2>\n";
  if (entries.empty()) return html + "<p>The database names no virus.</p>\n";
  html += "<table>\n<tr><th>Name</th><th>Id</th></tr>\n";
  for (const VirusNameEntry& entry : entries) {
    html += "<tr id=\"v" + std::to_string(entry.id) + "\"><td>" + EscapeHtml(entry.name) + "</td>" +
            IdCell(entry.id) + "</tr>\n";
  }
  return html + "</table>\n";
}

}  // namespace

std::vector<VirusNameEntry> SortedVirusNames(const DatabaseImage& names) {
  std::vector<VirusNameEntry> entries;
  const uint32_t count = NameRecordCount(names);
  for (uint32_t id = 1; id <= count; ++id) {
    std::string name = GetVirusName(names, id);
    if (!name.empty()) entries.push_back({id, std::move(name)});
  }
  std::sort(entries.begin(), entries.end(), NameOrderLess);
  return entries;
}

std::span<const FixedIdNote> FixedIdNotes() {
  return kFixedIdNotes;
}

std::string FormatEncyclopedia(const DatabaseImage& signatures, const DatabaseImage& names) {
  const std::vector<VirusNameEntry> entries = SortedVirusNames(names);
  std::string html(kPageStart);
  html += Summary(signatures, entries.size());
  html += FixedIdSection(names);
  html += NameSection(entries);
  return html + "</body>\n</html>\n";
}

}  // namespace quarn
