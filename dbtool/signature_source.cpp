#include "dbtool/signature_source.h"

#include <charconv>
#include <map>
#include <optional>

#include "engine/record_formats.h"
#include "platform/byte_reader.h"

namespace quarn {
namespace {

// A word of a source line: "key=value" or a bare value; a quoted value has been unescaped.
struct Token {
  std::string key;
  std::string value;
  bool has_key = false;
  bool quoted = false;
};

struct Location {
  std::string file;
  int line = 0;
  std::string Describe() const { return file + ":" + std::to_string(line); }
};

Status ErrorAt(const Location& where, const std::string& cause) {
  return Status::Error(where.Describe() + ": " + cause);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Splits a line into tokens; '#' outside quotes starts a comment.
Result<std::vector<Token>> Tokenize(std::string_view line, const Location& where) {
  std::vector<Token> tokens;
  size_t i = 0;
  while (i < line.size()) {
    char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
      continue;
    }
    if (c == '#') break;
    Token token;
    std::string* target = &token.value;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') {
      char ch = line[i];
      if (ch == '=' && !token.has_key && !token.quoted) {
        token.has_key = true;
        token.key = token.value;
        token.value.clear();
        ++i;
        continue;
      }
      if (ch == '"') {
        if (token.quoted || !target->empty()) return ErrorAt(where, "misplaced quote");
        token.quoted = true;
        ++i;
        bool closed = false;
        while (i < line.size()) {
          char q = line[i++];
          if (q == '"') {
            closed = true;
            break;
          }
          if (q != '\\') {
            target->push_back(q);
            continue;
          }
          if (i >= line.size()) break;
          char escaped = line[i++];
          if (escaped == '\\' || escaped == '"') {
            target->push_back(escaped);
          } else if (escaped == 'x' && i + 1 < line.size() && HexDigit(line[i]) >= 0 &&
                     HexDigit(line[i + 1]) >= 0) {
            target->push_back(static_cast<char>(HexDigit(line[i]) * 16 + HexDigit(line[i + 1])));
            i += 2;
          } else {
            return ErrorAt(where, "unknown escape '\\" + std::string(1, escaped) +
                                      "' (use \\\\, \\\" or \\xNN)");
          }
        }
        if (!closed) return ErrorAt(where, "unterminated quoted text");
        if (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' &&
            line[i] != '#') {
          return ErrorAt(where, "text after a closing quote");
        }
        continue;
      }
      if (token.quoted) return ErrorAt(where, "text after a closing quote");
      target->push_back(ch);
      ++i;
    }
    tokens.push_back(std::move(token));
  }
  return tokens;
}

Result<uint64_t> ParseNumber(const Token& token, uint64_t maximum, const Location& where,
                             std::string_view what) {
  std::string_view text = token.value;
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (token.quoted || text.empty() || error != std::errc() || end != text.data() + text.size()) {
    return ErrorAt(where, std::string(what) + " must be a number, not '" + token.value + "'");
  }
  if (value > maximum) {
    return ErrorAt(where, std::string(what) + " " + token.value + " is larger than " +
                              std::to_string(maximum));
  }
  return value;
}

Result<std::string> ParseBytes(const Token& token, size_t maximum, const Location& where,
                               std::string_view what) {
  std::string bytes;
  if (token.quoted) {
    bytes = token.value;
  } else {
    const std::string& hex = token.value;
    if (hex.size() % 2 != 0) {
      return ErrorAt(where, std::string(what) + ": an odd number of hex digits in '" + hex + "'");
    }
    for (size_t i = 0; i < hex.size(); i += 2) {
      int high = HexDigit(hex[i]);
      int low = HexDigit(hex[i + 1]);
      if (high < 0 || low < 0) {
        return ErrorAt(where,
                       std::string(what) + ": '" + hex + "' is neither hex bytes nor quoted text");
      }
      bytes.push_back(static_cast<char>(high * 16 + low));
    }
  }
  if (bytes.size() > maximum) {
    return ErrorAt(where, std::string(what) + " holds " + std::to_string(bytes.size()) +
                              " bytes; at most " + std::to_string(maximum) + " fit");
  }
  return bytes;
}

const FieldFormat* FindField(const RecordFormat& format, std::string_view name) {
  for (const FieldFormat& field : format.fields) {
    if (field.name == name) return &field;
  }
  return nullptr;
}

Result<std::vector<uint8_t>> ParseRecord(const RecordFormat& format,
                                         const std::vector<Token>& tokens, const Location& where) {
  std::map<std::string_view, const Token*> given;
  for (size_t i = 1; i < tokens.size(); ++i) {
    const Token& token = tokens[i];
    if (!token.has_key) {
      return ErrorAt(where, "expected field=value after " + std::string(format.keyword) +
                                ", not '" + token.value + "'");
    }
    const FieldFormat* field = FindField(format, token.key);
    if (field == nullptr) {
      std::string known;
      for (const FieldFormat& f : format.fields)
        known += (known.empty() ? "" : ", ") + std::string(f.name);
      return ErrorAt(where, "unknown field '" + token.key + "' for " + std::string(format.keyword) +
                                " (fields: " + known + ")");
    }
    if (given.count(field->name)) {
      return ErrorAt(where, "field '" + token.key + "' given twice");
    }
    given[field->name] = &token;
  }

  bool raw = format.size == 0;
  std::vector<uint8_t> record(raw ? 0 : format.size, 0);
  std::map<std::string_view, size_t> written;  // bytes written per byte field
  for (const FieldFormat& field : format.fields) {
    auto found = given.find(field.name);
    if (found == given.end() || field.kind == FieldKind::kNumber) continue;
    std::string what = std::string(format.keyword) + " " + std::string(field.name);
    auto bytes = ParseBytes(*found->second, field.width, where, what);
    if (!bytes) return bytes.status();
    if (raw) {
      if (bytes->empty()) return ErrorAt(where, "a record of no bytes");
      record.assign(bytes->begin(), bytes->end());
    } else {
      std::copy(bytes->begin(), bytes->end(), record.begin() + field.offset);
    }
    written[field.name] = bytes->size();
  }
  if (raw) {
    if (record.empty()) return ErrorAt(where, std::string(format.keyword) + " needs bytes=");
    return record;
  }
  for (const FieldFormat& field : format.fields) {
    if (field.kind != FieldKind::kNumber) continue;
    auto found = given.find(field.name);
    uint64_t value = 0;
    if (found != given.end()) {
      uint64_t maximum = field.width >= 4 ? 0xFFFFFFFFull : (1ull << (8 * field.width)) - 1;
      auto parsed = ParseNumber(*found->second, maximum, where,
                                std::string(format.keyword) + " " + std::string(field.name));
      if (!parsed) return parsed.status();
      value = *parsed;
    } else if (!field.counts.empty()) {
      value = written.count(field.counts) ? written[field.counts] : 0;
    }
    for (int i = 0; i < field.width; ++i) {
      record[field.offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
  }
  return record;
}

class SourceParser {
 public:
  Status ParseText(const SourceText& source) {
    Location where{source.file_name, 0};
    size_t start = 0;
    while (start <= source.text.size()) {
      size_t end = source.text.find('\n', start);
      if (end == std::string::npos) end = source.text.size();
      ++where.line;
      std::string_view line(source.text.data() + start, end - start);
      Status status = ParseLine(line, where);
      if (!status) return status;
      start = end + 1;
    }
    return Status::Ok();
  }

  DatabaseContent& content() { return content_; }

 private:
  Status ParseLine(std::string_view line, const Location& where) {
    auto tokens = Tokenize(line, where);
    if (!tokens) return tokens.status();
    if (tokens->empty()) return Status::Ok();
    const Token& head = tokens->front();
    if (head.has_key || head.quoted) {
      return ErrorAt(where, "a line starts with a statement name, not '" + head.value + "'");
    }
    const std::string& word = head.value;
    if (word == "version") return ParseVersion(*tokens, where);
    if (word == "date") return ParseDate(*tokens, where);
    if (word == "names") return ParseNameCount(*tokens, where);
    if (word == "name") return ParseName(*tokens, where);
    const RecordFormat* format = FindRecordFormat(word);
    if (format == nullptr) return ErrorAt(where, "unknown statement '" + word + "'");
    auto record = ParseRecord(*format, *tokens, where);
    if (!record) return record.status();
    SectionRecords& section = content_.sections[format->section];
    if (format->size == 0) {
      if (!section.records.empty() && section.records.front().size() != record->size()) {
        return ErrorAt(where, "a record of " + std::to_string(record->size()) +
                                  " bytes in a section of " +
                                  std::to_string(section.records.front().size()) + "-byte records");
      }
      section.record_size = static_cast<uint8_t>(record->size());
    }
    if (section.records.size() >= 0xFFFF) {
      return ErrorAt(where, "section " + std::to_string(format->section) +
                                " already holds 65535 records, the most a section can");
    }
    section.records.push_back(std::move(record.value()));
    return Status::Ok();
  }

  Status ExpectArguments(const std::vector<Token>& tokens, size_t count, const Location& where,
                         std::string_view usage) {
    if (tokens.size() != count + 1) {
      return ErrorAt(where, "expected '" + std::string(usage) + "'");
    }
    return Status::Ok();
  }

  Status Once(std::optional<Location>* first, const Location& where, std::string_view what) {
    if (*first) {
      return ErrorAt(where,
                     std::string(what) + " given twice (first at " + (*first)->Describe() + ")");
    }
    *first = where;
    return Status::Ok();
  }

  Status ParseVersion(const std::vector<Token>& tokens, const Location& where) {
    if (Status s = ExpectArguments(tokens, 1, where, "version NUMBER"); !s) return s;
    if (Status s = Once(&version_at_, where, "version"); !s) return s;
    auto version = ParseNumber(tokens[1], 255, where, "version");
    if (!version) return version.status();
    content_.version = static_cast<uint8_t>(*version);
    return Status::Ok();
  }

  Status ParseDate(const std::vector<Token>& tokens, const Location& where) {
    if (Status s = ExpectArguments(tokens, 1, where, "date MONTH/YEAR"); !s) return s;
    if (Status s = Once(&date_at_, where, "date"); !s) return s;
    const std::string& text = tokens[1].value;
    size_t slash = text.find('/');
    if (slash == std::string::npos || tokens[1].quoted) {
      return ErrorAt(where, "expected the date as MONTH/YEAR, not '" + text + "'");
    }
    Token month{"", text.substr(0, slash)};
    Token year{"", text.substr(slash + 1)};
    auto month_value = ParseNumber(month, 255, where, "the month");
    if (!month_value) return month_value.status();
    auto year_value = ParseNumber(year, 65535, where, "the year");
    if (!year_value) return year_value.status();
    content_.month = static_cast<uint8_t>(*month_value);
    content_.year = static_cast<uint16_t>(*year_value);
    return Status::Ok();
  }

  Status ParseNameCount(const std::vector<Token>& tokens, const Location& where) {
    if (Status s = ExpectArguments(tokens, 1, where, "names COUNT"); !s) return s;
    if (Status s = Once(&names_at_, where, "names"); !s) return s;
    auto count = ParseNumber(tokens[1], 1u << 20, where, "the name count");
    if (!count) return count.status();
    content_.name_records = static_cast<uint32_t>(*count);
    return Status::Ok();
  }

  Status ParseName(const std::vector<Token>& tokens, const Location& where) {
    if (Status s = ExpectArguments(tokens, 2, where, "name ID \"TEXT\""); !s) return s;
    auto id = ParseNumber(tokens[1], 1u << 20, where, "the VirusId");
    if (!id) return id.status();
    if (*id == 0) return ErrorAt(where, "VirusId 0 means \"nothing found\" and has no name");
    if (!tokens[2].quoted) return ErrorAt(where, "the name must be quoted text");
    if (tokens[2].value.size() > kNameFieldLength) {
      return ErrorAt(where, "the name \"" + tokens[2].value + "\" is longer than 28 bytes");
    }
    if (tokens[2].value.find('\0') != std::string::npos) {
      return ErrorAt(where, "a name cannot hold a zero byte");
    }
    auto [previous, inserted] = name_at_.emplace(static_cast<uint32_t>(*id), where);
    if (!inserted) {
      return ErrorAt(where, "VirusId " + tokens[1].value + " is named twice (first at " +
                                previous->second.Describe() + ")");
    }
    content_.names[static_cast<uint32_t>(*id)] = tokens[2].value;
    return Status::Ok();
  }

  DatabaseContent content_;
  std::optional<Location> version_at_;
  std::optional<Location> date_at_;
  std::optional<Location> names_at_;
  std::map<uint32_t, Location> name_at_;
};

bool IsPlainText(std::string_view bytes) {
  for (char c : bytes) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E) return false;
  }
  return true;
}

std::string Quote(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text = "\"";
  for (char c : bytes) {
    unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      text += '\\';
      text += c;
    } else if (u < 0x20 || u > 0x7E) {
      text += "\\x";
      text += kHex[u >> 4];
      text += kHex[u & 15];
    } else {
      text += c;
    }
  }
  return text + "\"";
}

std::string Hex(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (char c : bytes) {
    unsigned char u = static_cast<unsigned char>(c);
    text += kHex[u >> 4];
    text += kHex[u & 15];
  }
  return text;
}

std::string FormatRecord(const RecordFormat& format, const std::vector<uint8_t>& record) {
  std::string line(format.keyword);
  std::span<const uint8_t> bytes(record);
  for (const FieldFormat& field : format.fields) {
    size_t width = format.size == 0 ? record.size() : field.width;
    std::string_view field_bytes(reinterpret_cast<const char*>(record.data()) + field.offset,
                                 width);
    switch (field.kind) {
      case FieldKind::kNumber: {
        uint64_t value = field.width == 1   ? ReadU8(bytes, field.offset)
                         : field.width == 2 ? ReadU16(bytes, field.offset)
                                            : ReadU32(bytes, field.offset);
        line += " " + std::string(field.name) + "=" + std::to_string(value);
        break;
      }
      case FieldKind::kBytes: {
        // Zero padding is what the compiler adds back, so trailing zeros are left out.
        if (format.size != 0) {
          while (!field_bytes.empty() && field_bytes.back() == '\0') field_bytes.remove_suffix(1);
        }
        if (field_bytes.empty()) break;
        bool text = field_bytes.size() >= 2 && IsPlainText(field_bytes);
        line +=
            " " + std::string(field.name) + "=" + (text ? Quote(field_bytes) : Hex(field_bytes));
        break;
      }
      case FieldKind::kText: {
        // Bytes after the terminator are kept too, so a rebuilt record is the same record.
        while (!field_bytes.empty() && field_bytes.back() == '\0') field_bytes.remove_suffix(1);
        line += " " + std::string(field.name) + "=" + Quote(field_bytes);
        break;
      }
    }
  }
  return line;
}

}  // namespace

Result<DatabaseContent> ParseSignatureSource(const std::vector<SourceText>& sources) {
  SourceParser parser;
  for (const SourceText& source : sources) {
    Status status = parser.ParseText(source);
    if (!status) return status;
  }
  return std::move(parser.content());
}

std::string FormatSignatureSource(const DatabaseContent& content) {
  std::string text =
      "# Quarn Explorer signature source (see docs/signature-source.md)\n"
      "version " +
      std::to_string(content.version) + "\n" + "date " + std::to_string(content.month) + "/" +
      std::to_string(content.year) + "\n";
  uint32_t highest = content.names.empty() ? 0 : content.names.rbegin()->first;
  if (content.name_records > highest) {
    text += "names " + std::to_string(content.name_records) + "\n";
  }
  if (!content.names.empty()) text += "\n# names\n";
  for (const auto& [id, name] : content.names) {
    text += "name " + std::to_string(id) + " " + Quote(name) + "\n";
  }
  for (const RecordFormat& format : AllRecordFormats()) {
    const SectionRecords& section = content.sections[format.section];
    if (section.records.empty()) continue;
    text +=
        "\n# section " + std::to_string(format.section) + ": " + std::string(format.layout) + "\n";
    for (const auto& record : section.records) text += FormatRecord(format, record) + "\n";
  }
  return text;
}

}  // namespace quarn
