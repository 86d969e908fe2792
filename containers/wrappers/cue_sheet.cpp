#include "containers/wrappers/cue_sheet.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <vector>

namespace quarn {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::array<std::string_view, 13> kKeywords = {
    "CATALOG", "CDTEXTFILE", "FILE", "FLAGS",      "INDEX", "ISRC", "PERFORMER",
    "POSTGAP", "PREGAP",     "REM",  "SONGWRITER", "TITLE", "TRACK"};
constexpr uint64_t kFramesPerSecond = 75;

struct TrackLayout {
  std::string_view mode;
  uint64_t sector_size;
  uint64_t data_offset;
};
// Mode 1 puts a sector's user data after its sync and header; mode 2 form 1 after a
// sub-header too; a 2048-byte track holds user data only.
constexpr TrackLayout kDataTracks[] = {
    {"MODE1/2352", 2352, 16}, {"MODE2/2352", 2352, 24}, {"MODE1/2048", 2048, 0}};

bool SameWord(std::string_view word, std::string_view keyword) {
  return word.size() == keyword.size() &&
         std::equal(word.begin(), word.end(), keyword.begin(), [](char a, char b) {
           return std::toupper(static_cast<unsigned char>(a)) == b;
         });
}

bool IsKeyword(std::string_view word) {
  return std::any_of(kKeywords.begin(), kKeywords.end(),
                     [word](std::string_view keyword) { return SameWord(word, keyword); });
}

// Whether the first word of the text is a keyword and ends before the text does. Every file
// of a scan is asked, and this looks at a few bytes where the whole check reads the head.
bool StartsWithKeyword(std::string_view text) {
  constexpr size_t kLongestKeyword = 10;
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  size_t start = 0;
  while (start < text.size() && blank(text[start])) ++start;
  // Most files are let go by their first letter, which begins no keyword.
  if (start == text.size()) return false;
  const auto first = static_cast<char>(std::toupper(static_cast<unsigned char>(text[start])));
  if (std::none_of(kKeywords.begin(), kKeywords.end(),
                   [first](std::string_view keyword) { return keyword[0] == first; })) {
    return false;
  }
  size_t end = start;
  while (end < text.size() && end - start <= kLongestKeyword && !blank(text[end])) ++end;
  return end < text.size() && blank(text[end]) && IsKeyword(text.substr(start, end - start));
}

// A line's words; a quoted one (a name with spaces) without its quotes. Nothing when a quote
// is left open.
std::optional<std::vector<std::string_view>> Words(std::string_view line) {
  std::vector<std::string_view> words;
  size_t at = 0;
  while (true) {
    at = line.find_first_not_of(" \t", at);
    if (at == std::string_view::npos) return words;
    if (line[at] == '"') {
      const size_t end = line.find('"', at + 1);
      if (end == std::string_view::npos) return std::nullopt;
      words.push_back(line.substr(at + 1, end - at - 1));
      at = end + 1;
    } else {
      const size_t end = std::min(line.find_first_of(" \t", at), line.size());
      words.push_back(line.substr(at, end - at));
      at = end;
    }
  }
}

std::optional<uint64_t> Number(std::string_view digits, uint64_t below) {
  if (digits.empty() || digits.size() > 3) return std::nullopt;
  uint64_t value = 0;
  for (const char digit : digits) {
    if (digit < '0' || digit > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(digit - '0');
  }
  if (value >= below) return std::nullopt;
  return value;
}

// MM:SS:FF, in frames (sectors).
std::optional<uint64_t> Frames(std::string_view time) {
  const size_t first = time.find(':');
  const size_t second = time.find(':', first == std::string_view::npos ? first : first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  const auto minutes = Number(time.substr(0, first), 1000);
  const auto seconds = Number(time.substr(first + 1, second - first - 1), 60);
  const auto frames = Number(time.substr(second + 1), kFramesPerSecond);
  if (!minutes || !seconds || !frames) return std::nullopt;
  return (*minutes * 60 + *seconds) * kFramesPerSecond + *frames;
}

bool IsText(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte >= 0x20 || byte == '\t' || byte == '\r' || byte == '\n';
  });
}

std::string_view WithoutByteOrderMark(std::string_view text) {
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
    text.remove_prefix(kByteOrderMark.size());
  }
  return text;
}

}  // namespace

std::optional<CueSheet> ParseCueSheet(std::string_view text) {
  text = WithoutByteOrderMark(text);
  if (text.size() > kMostCueSheetBytes || !IsText(text)) return std::nullopt;
  CueSheet sheet;
  int files = 0;
  int tracks = 0;
  std::optional<uint64_t> first_index;
  while (!text.empty()) {
    const size_t end = std::min(text.find_first_of("\r\n"), text.size());
    const std::optional<std::vector<std::string_view>> words = Words(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    if (!words) return std::nullopt;
    if (words->empty()) continue;
    const std::string_view keyword = (*words)[0];
    if (!IsKeyword(keyword)) return std::nullopt;
    if (SameWord(keyword, "FILE")) {
      if (words->size() != 3) return std::nullopt;
      if (++files == 1) sheet.file = std::string((*words)[1]);
      if (!SameWord((*words)[2], "BINARY")) sheet.readable = false;
    } else if (SameWord(keyword, "TRACK")) {
      if (files == 0 || words->size() != 3) return std::nullopt;
      if (++tracks > 1) continue;
      const auto layout =
          std::find_if(std::begin(kDataTracks), std::end(kDataTracks),
                       [&](const TrackLayout& track) { return SameWord((*words)[2], track.mode); });
      if (layout == std::end(kDataTracks)) {
        sheet.readable = false;
      } else {
        sheet.sector_size = layout->sector_size;
        sheet.data_offset = layout->data_offset;
      }
    } else if (SameWord(keyword, "INDEX")) {
      if (tracks == 0 || words->size() != 3) return std::nullopt;
      const std::optional<uint64_t> frames = Frames((*words)[2]);
      if (!frames) return std::nullopt;
      if (tracks == 1 && (*words)[1] == "01") first_index = frames;
    }
  }
  if (!first_index) return std::nullopt;
  if (files > 1) sheet.readable = false;
  sheet.track_start = *first_index * sheet.sector_size;
  return sheet;
}

bool MayBeCueSheet(std::span<const uint8_t> head) {
  std::string_view text(reinterpret_cast<const char*>(head.data()), head.size());
  text = WithoutByteOrderMark(text);
  if (!StartsWithKeyword(text) || !IsText(text)) return false;
  // Every line starts with a keyword, the last one's too unless the head cuts its first word:
  // a batch file's first REM alone does not make it a cue sheet.
  bool keyword_seen = false;
  while (!text.empty()) {
    const size_t end = text.find_first_of("\r\n");
    const std::string_view line = text.substr(0, end);
    const size_t start = line.find_first_not_of(" \t");
    if (start != std::string_view::npos) {
      const size_t word_end = std::min(line.find_first_of(" \t", start), line.size());
      if (end == std::string_view::npos && word_end == line.size()) break;
      if (!IsKeyword(line.substr(start, word_end - start))) return false;
      keyword_seen = true;
    }
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return keyword_seen;
}

}  // namespace quarn
