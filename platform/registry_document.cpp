#include "platform/registry_document.h"

#include <algorithm>
#include <map>
#include <unordered_map>
#include <utility>

namespace quarn {
namespace {

char FoldCase(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Folded(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) c = FoldCase(c);
  return folded;
}

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return FoldCase(x) == FoldCase(y);
         });
}

// True when `path` lies somewhere below `key`.
bool IsBelow(std::string_view path, std::string_view key) {
  return path.size() > key.size() && path[key.size()] == '\\' &&
         SameName(path.substr(0, key.size()), key);
}

template <typename Keys>
auto FindKeyIn(Keys& keys, std::string_view path) {
  return std::find_if(keys.begin(), keys.end(),
                      [&](const RegistryDocument::Key& key) { return SameName(key.path, path); });
}

template <typename Entries>
auto FindEntryIn(Entries& entries, std::string_view name) {
  return std::find_if(entries.begin(), entries.end(), [&](const RegistryDocument::Entry& entry) {
    return SameName(entry.name, name);
  });
}

}  // namespace

RegistryValue RegistryValue::Text(std::string_view text) {
  return RegistryValue{kRegSz, std::vector<uint8_t>(text.begin(), text.end())};
}

RegistryValue RegistryValue::Number(uint32_t number) {
  return RegistryValue{kRegBinary,
                       {static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8),
                        static_cast<uint8_t>(number >> 16), static_cast<uint8_t>(number >> 24)}};
}

const RegistryValue* RegistryDocument::FindValue(std::string_view key,
                                                 std::string_view name) const {
  auto found_key = FindKeyIn(keys_, key);
  if (found_key == keys_.end()) return nullptr;
  auto entry = FindEntryIn(found_key->values, name);
  return entry == found_key->values.end() ? nullptr : &entry->value;
}

// As in the registry, a key exists when a key below it does: storing a subkey implies its
// parents even when no line names them.
bool RegistryDocument::HasKey(std::string_view key) const {
  return std::any_of(keys_.begin(), keys_.end(), [&](const Key& stored) {
    return SameName(stored.path, key) || IsBelow(stored.path, key);
  });
}

std::vector<std::string> RegistryDocument::ValueNames(std::string_view key) const {
  std::vector<std::string> names;
  auto found_key = FindKeyIn(keys_, key);
  if (found_key == keys_.end()) return names;
  for (const Entry& entry : found_key->values) names.push_back(entry.name);
  return names;
}

std::vector<std::string> RegistryDocument::SubkeysOf(std::string_view key) const {
  std::vector<std::string> paths;
  for (const Key& stored : keys_) {
    if (IsBelow(stored.path, key)) paths.push_back(stored.path);
  }
  return paths;
}

void RegistryDocument::SetValue(std::string_view key, std::string_view name, RegistryValue value) {
  CreateKey(key);
  std::vector<Entry>& values = FindKeyIn(keys_, key)->values;
  auto entry = FindEntryIn(values, name);
  if (entry != values.end()) {
    entry->value = std::move(value);
  } else {
    values.push_back(Entry{std::string(name), std::move(value), {}});
  }
}

void RegistryDocument::CreateKey(std::string_view key) {
  if (FindKeyIn(keys_, key) == keys_.end()) keys_.push_back(Key{std::string(key), {}, {}});
}

void RegistryDocument::DeleteValue(std::string_view key, std::string_view name) {
  auto found_key = FindKeyIn(keys_, key);
  if (found_key == keys_.end()) return;
  auto entry = FindEntryIn(found_key->values, name);
  if (entry != found_key->values.end()) found_key->values.erase(entry);
}

void RegistryDocument::DeleteKey(std::string_view key) {
  std::erase_if(keys_, [&](const Key& stored) {
    return SameName(stored.path, key) || IsBelow(stored.path, key);
  });
}

std::optional<uint32_t> RegistryDocument::ReadNumber(std::string_view key,
                                                     std::string_view name) const {
  const RegistryValue* value = FindValue(key, name);
  // A REG_DWORD is the same 4 bytes: the form a person typing into the store uses.
  if (value == nullptr || (value->type != kRegBinary && value->type != kRegDword) ||
      value->data.size() != 4) {
    return std::nullopt;
  }
  const std::vector<uint8_t>& d = value->data;
  return static_cast<uint32_t>(d[0]) | static_cast<uint32_t>(d[1]) << 8 |
         static_cast<uint32_t>(d[2]) << 16 | static_cast<uint32_t>(d[3]) << 24;
}

void RegistryDocument::WriteNumber(std::string_view key, std::string_view name, uint32_t number) {
  RegistryValue value = RegistryValue::Number(number);
  const RegistryValue* stored = FindValue(key, name);
  if (stored != nullptr && stored->type == kRegDword) value.type = kRegDword;
  SetValue(key, name, std::move(value));
}

std::optional<std::string> RegistryDocument::ReadText(std::string_view key,
                                                      std::string_view name) const {
  const RegistryValue* value = FindValue(key, name);
  if (value == nullptr || value->type != kRegSz) return std::nullopt;
  return std::string(value->data.begin(), value->data.end());
}

namespace {

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// The registry editor keeps its lines within this width, the ",\" included.
constexpr size_t kLineWidth = 80;
constexpr std::string_view kContinuation = "\\\r\n  ";

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view TrimLeft(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  return text;
}

std::string_view TrimRight(std::string_view text) {
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// A byte of the input as a message may show it, so that no control byte reaches a terminal.
std::string Printable(char c) {
  if (c >= ' ' && c <= '~') return std::string(1, c);
  static constexpr char kDigits[] = "0123456789abcdef";
  uint8_t byte = static_cast<uint8_t>(c);
  return std::string("x") + kDigits[byte >> 4] + kDigits[byte & 0xF];
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Builds a document while it is parsed. Lookups go through indexes, so a hostile file with
// many keys, values and deletions parses in time proportional to its size; deleted entries
// stay as tombstones until Finish drops them.
class DocumentBuilder {
 public:
  bool HasCurrentKey() const { return current_.has_value(); }
  // Whether the last key line deleted a key: the values below it belong to no key.
  bool InDeletedKey() const { return in_deleted_key_; }

  void OpenKey(std::string_view path, std::vector<std::string>& comments) {
    auto [slot, inserted] = key_index_.try_emplace(Folded(path), slots_.size());
    if (inserted)
      slots_.push_back(Slot{RegistryDocument::Key{std::string(path), {}, {}}, true, {}, {}});
    current_ = slot->second;
    in_deleted_key_ = false;
    MoveComments(comments, slots_[*current_].key.comments);
  }

  void DeleteKey(std::string_view path) {
    current_.reset();
    in_deleted_key_ = true;
    std::string folded = Folded(path);
    if (auto exact = key_index_.find(folded); exact != key_index_.end()) Drop(exact);
    folded.push_back('\\');
    for (auto below = key_index_.lower_bound(folded);
         below != key_index_.end() && below->first.starts_with(folded);) {
      below = Drop(below);
    }
  }

  void SetValue(std::string_view name, RegistryValue value, std::vector<std::string>& comments) {
    Slot& slot = slots_[*current_];
    auto [found, inserted] = slot.value_index.try_emplace(Folded(name), slot.key.values.size());
    if (inserted) {
      slot.key.values.push_back(RegistryDocument::Entry{std::string(name), std::move(value), {}});
      slot.value_live.push_back(true);
    } else {
      slot.key.values[found->second].value = std::move(value);
    }
    MoveComments(comments, slot.key.values[found->second].comments);
  }

  void DeleteValue(std::string_view name) {
    Slot& slot = slots_[*current_];
    auto found = slot.value_index.find(Folded(name));
    if (found == slot.value_index.end()) return;
    slot.value_live[found->second] = false;
    slot.value_index.erase(found);
  }

  RegistryDocument Finish(std::vector<std::string> trailing_comments) {
    RegistryDocument document;
    for (Slot& slot : slots_) {
      if (!slot.live) continue;
      std::vector<RegistryDocument::Entry> live_values;
      for (size_t i = 0; i < slot.key.values.size(); ++i) {
        if (slot.value_live[i]) live_values.push_back(std::move(slot.key.values[i]));
      }
      slot.key.values = std::move(live_values);
      document.mutable_keys().push_back(std::move(slot.key));
    }
    document.trailing_comments() = std::move(trailing_comments);
    return document;
  }

 private:
  struct Slot {
    RegistryDocument::Key key;
    bool live = true;
    std::unordered_map<std::string, size_t> value_index;  // folded name -> index in key.values
    std::vector<bool> value_live;
  };
  using KeyIndex = std::map<std::string, size_t>;  // folded path -> index in slots_

  KeyIndex::iterator Drop(KeyIndex::iterator entry) {
    slots_[entry->second].live = false;
    return key_index_.erase(entry);
  }

  static void MoveComments(std::vector<std::string>& from, std::vector<std::string>& to) {
    for (std::string& comment : from) to.push_back(std::move(comment));
    from.clear();
  }

  std::vector<Slot> slots_;
  KeyIndex key_index_;
  std::optional<size_t> current_;
  bool in_deleted_key_ = false;
};

class Parser {
 public:
  Parser(std::string_view text, const std::string& file_name)
      : text_(text), file_name_(file_name) {}

  Result<RegistryDocument> Run() {
    if (text_.starts_with(kByteOrderMark)) position_ = kByteOrderMark.size();
    std::string_view line;
    if (!NextLine(line) || TrimRight(line) != kHeader) {
      line_number_ = 1;
      return Fail("the first line is not \"REGEDIT4\"");
    }
    // Comments wait here for the key or value they describe; a deletion passes them on.
    std::vector<std::string> comments;
    while (NextLine(line)) {
      std::string_view content = TrimLeft(line);
      if (content.empty()) continue;
      if (content.front() == ';') {
        comments.emplace_back(content.substr(1));
        continue;
      }
      content = TrimRight(content);
      std::string cause = content.front() == '[' ? ParseKeyLine(content, comments)
                                                 : ParseValueLine(content, comments);
      if (!cause.empty()) return Fail(cause);
    }
    return builder_.Finish(std::move(comments));
  }

 private:
  // The next line without its CR LF or LF; false at the end of the text.
  bool NextLine(std::string_view& line) {
    if (position_ >= text_.size()) return false;
    size_t end = text_.find('\n', position_);
    if (end == std::string_view::npos) end = text_.size();
    line = text_.substr(position_, end - position_);
    if (line.ends_with('\r')) line.remove_suffix(1);
    position_ = end + 1;
    ++line_number_;
    return true;
  }

  Status Fail(const std::string& cause) const {
    return Status::Error(file_name_ + ", line " + std::to_string(line_number_) + ": " + cause);
  }

  std::string ParseKeyLine(std::string_view line, std::vector<std::string>& comments) {
    if (line.size() < 2 || line.back() != ']') return "a key line must end with ']'";
    bool remove = line[1] == '-';
    std::string_view path = line.substr(remove ? 2 : 1);
    path.remove_suffix(1);
    if (path.empty()) return "empty key path";
    if (remove) {
      builder_.DeleteKey(path);
    } else {
      builder_.OpenKey(path, comments);
    }
    return {};
  }

  std::string ParseValueLine(std::string_view line, std::vector<std::string>& comments) {
    std::string name;
    if (line.front() == '@') {
      line.remove_prefix(1);
    } else if (line.front() == '"') {
      if (std::string cause = ParseQuoted(line, name); !cause.empty()) return cause;
    } else {
      return "expected a key, a value or a comment";
    }
    if (line.empty() || line.front() != '=') return "missing '='";
    line.remove_prefix(1);
    // Below a deleted key, values name nothing that could exist; regedit passes over them,
    // and so does this reader, after checking that they read as values.
    const bool skipped = builder_.InDeletedKey();
    if (!builder_.HasCurrentKey() && !skipped) return "a value must follow a key";
    if (line == "-") {
      if (!skipped) builder_.DeleteValue(name);
      return {};
    }
    RegistryValue value;
    if (std::string cause = ParseData(line, value); !cause.empty()) return cause;
    if (!skipped) builder_.SetValue(name, std::move(value), comments);
    return {};
  }

  std::string ParseData(std::string_view data, RegistryValue& value) {
    if (data.starts_with('"')) {
      std::string text;
      if (std::string cause = ParseQuoted(data, text); !cause.empty()) return cause;
      if (!data.empty()) return "unexpected text after the closing quote";
      value = RegistryValue::Text(text);
      return {};
    }
    if (data.starts_with("dword:")) {
      data.remove_prefix(6);
      if (data.size() != 8) return "a dword needs exactly 8 hex digits";
      uint32_t number = 0;
      for (char c : data) {
        int digit = HexDigit(c);
        if (digit < 0) return "a dword needs exactly 8 hex digits";
        number = number << 4 | static_cast<uint32_t>(digit);
      }
      value.type = kRegDword;
      value.data = RegistryValue::Number(number).data;
      return {};
    }
    if (data.starts_with("hex:")) {
      data.remove_prefix(4);
      value.type = kRegBinary;
      return ParseHexList(data, value.data);
    }
    if (data.starts_with("hex(")) {
      data.remove_prefix(4);
      size_t close = data.find("):");
      if (close == 0 || close == std::string_view::npos) return "expected hex(TYPE):";
      uint64_t type = 0;
      for (char c : data.substr(0, close)) {
        int digit = HexDigit(c);
        if (digit < 0) return "the type in hex(TYPE) must be hex digits";
        type = type << 4 | static_cast<uint64_t>(digit);
        if (type > UINT32_MAX) return "the type in hex(TYPE) is larger than 32 bits";
      }
      data.remove_prefix(close + 2);
      value.type = static_cast<uint32_t>(type);
      return ParseHexList(data, value.data);
    }
    return "unknown value type";
  }

  // Reads '"' ... '"' from the front of `line` into `out` and leaves what follows.
  std::string ParseQuoted(std::string_view& line, std::string& out) {
    for (size_t i = 1; i < line.size(); ++i) {
      char c = line[i];
      if (c == '"') {
        line.remove_prefix(i + 1);
        return {};
      }
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (++i == line.size()) break;
      switch (line[i]) {
        case '\\':
          out.push_back('\\');
          break;
        case '"':
          out.push_back('"');
          break;
        case 'n':
          out.push_back('\n');
          break;
        default:
          return "unknown escape \"\\" + Printable(line[i]) + "\" (write \\\\ for a backslash)";
      }
    }
    return "missing closing quote";
  }

  // Reads a comma-separated list of 2-digit bytes, following ",\" onto further lines.
  std::string ParseHexList(std::string_view list, std::vector<uint8_t>& out) {
    if (list.empty()) return {};
    for (;;) {
      if (list.size() < 2 || HexDigit(list[0]) < 0 || HexDigit(list[1]) < 0) {
        return "expected a byte of 2 hex digits";
      }
      out.push_back(static_cast<uint8_t>(HexDigit(list[0]) << 4 | HexDigit(list[1])));
      list.remove_prefix(2);
      if (list.empty()) return {};
      if (list.front() != ',') return "expected ',' between bytes";
      list.remove_prefix(1);
      if (list == "\\") {
        std::string_view next;
        if (!NextLine(next)) return "the hex list continues past the end of the file";
        list = TrimRight(TrimLeft(next));
      } else if (list.empty()) {
        return "the hex list ends with ','";
      }
    }
  }

  std::string_view text_;
  const std::string& file_name_;
  size_t position_ = 0;
  int line_number_ = 0;
  DocumentBuilder builder_;
};

void AppendComments(std::string& out, const std::vector<std::string>& comments) {
  for (const std::string& comment : comments) {
    out += ';';
    out += comment;
    out += "\r\n";
  }
}

void AppendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    if (c == '\\' || c == '"') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  out += '"';
}

void AppendHexByte(std::string& out, uint8_t byte) {
  static constexpr char kDigits[] = "0123456789abcdef";
  out += kDigits[byte >> 4];
  out += kDigits[byte & 0xF];
}

// Writes the bytes after "hex:" or "hex(N):", wrapping before a byte that would push the line,
// with its ",\", past kLineWidth. The first byte always stays on the value's own line.
void AppendHexList(std::string& out, size_t line_start, const std::vector<uint8_t>& bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    bool last = i + 1 == bytes.size();
    size_t needed = last ? 2 : 4;  // "xx" or "xx,\"
    if (i > 0 && out.size() - line_start + needed > kLineWidth) {
      out += kContinuation;
      line_start = out.size() - 2;
    }
    AppendHexByte(out, bytes[i]);
    if (!last) out += ',';
  }
}

void AppendData(std::string& out, size_t line_start, const RegistryValue& value) {
  if (value.type == kRegSz) {
    AppendQuoted(
        out, std::string_view(reinterpret_cast<const char*>(value.data.data()), value.data.size()));
    return;
  }
  if (value.type == kRegDword && value.data.size() == 4) {
    out += "dword:";
    for (int i = 3; i >= 0; --i) AppendHexByte(out, value.data[i]);
    return;
  }
  if (value.type == kRegBinary) {
    out += "hex:";
  } else {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string type;
    for (uint32_t rest = value.type; rest != 0 || type.empty(); rest >>= 4) {
      type.insert(type.begin(), kDigits[rest & 0xF]);
    }
    out += "hex(" + type + "):";
  }
  AppendHexList(out, line_start, value.data);
}

}  // namespace

Result<RegistryDocument> ParseRegistryText(std::string_view text, const std::string& file_name) {
  return Parser(text, file_name).Run();
}

std::string FormatRegistryText(const RegistryDocument& document) {
  std::string out(kHeader);
  out += "\r\n\r\n";
  for (const RegistryDocument::Key& key : document.keys()) {
    AppendComments(out, key.comments);
    out += '[';
    out += key.path;
    out += "]\r\n";
    for (const RegistryDocument::Entry& entry : key.values) {
      AppendComments(out, entry.comments);
      size_t line_start = out.size();
      if (entry.name.empty()) {
        out += '@';
      } else {
        AppendQuoted(out, entry.name);
      }
      out += '=';
      AppendData(out, line_start, entry.value);
      out += "\r\n";
    }
    out += "\r\n";
  }
  AppendComments(out, document.trailing_comments());
  return out;
}

}  // namespace quarn
