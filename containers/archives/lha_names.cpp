#include "containers/archives/lha_names.h"

#include <algorithm>
#include <string_view>

#include "containers/archives/archive_names.h"
#include "platform/text_encoding.h"

namespace quarn {
namespace {

// The systems whose all-capital names liblhasa lowers: none named (level 0), MS-DOS, Atari
// and OS/2.
constexpr std::string_view kCapitalsFolded("\0Ma2", 4);

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::string AsciiUpper(std::string_view text) {
  std::string upper(text);
  for (char& c : upper) c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  return upper;
}

bool Holds(std::span<const uint8_t> bytes, std::string_view text) {
  const auto* first = reinterpret_cast<const char*>(bytes.data());
  const std::string_view haystack(first, bytes.size());
  return haystack.find(text) != std::string_view::npos;
}

// Whether liblhasa lowered `joined`: its longest component with a letter is in the raw
// header in capitals, and not as it is now. The longest one is the least likely to turn up
// in the header's other fields by chance.
bool WasLowered(std::string_view joined, std::span<const uint8_t> raw_header) {
  if (std::any_of(joined.begin(), joined.end(), [](char c) { return c >= 'A' && c <= 'Z'; })) {
    return false;
  }
  std::string_view longest;
  size_t start = 0;
  while (start <= joined.size()) {
    size_t end = joined.find('/', start);
    if (end == std::string_view::npos) end = joined.size();
    const std::string_view part = joined.substr(start, end - start);
    if (part.size() > longest.size() && std::any_of(part.begin(), part.end(), IsAsciiLetter)) {
      longest = part;
    }
    start = end + 1;
  }
  return !longest.empty() && Holds(raw_header, AsciiUpper(longest)) && !Holds(raw_header, longest);
}

// Code page 437, except that control bytes stay as they are for ArchiveDisplayPath to
// replace.
std::string Decoded(std::string_view stored) {
  std::string text;
  size_t start = 0;
  while (start < stored.size()) {
    size_t end = start;
    while (end < stored.size() && static_cast<uint8_t>(stored[end]) >= 0x20) ++end;
    const auto* run = reinterpret_cast<const uint8_t*>(stored.data() + start);
    text += CodePage437ToUtf8(std::span(run, end - start));
    while (end < stored.size() && static_cast<uint8_t>(stored[end]) < 0x20) text += stored[end++];
    start = end;
  }
  return text;
}

}  // namespace

std::string LhaDisplayPath(std::string_view folder, std::string_view name, uint8_t os_type,
                           std::span<const uint8_t> raw_header) {
  std::string joined(folder);
  if (!joined.empty() && !joined.ends_with('/') && !name.empty()) joined += '/';
  joined += name;
  if (kCapitalsFolded.find(static_cast<char>(os_type)) != std::string_view::npos &&
      WasLowered(joined, raw_header)) {
    joined = AsciiUpper(joined);
  }
  return ArchiveDisplayPath(Decoded(joined));
}

}  // namespace quarn
