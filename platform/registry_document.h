#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace quarn {

// Registry value types as numbered by the original platform.
enum RegistryType : uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
};

struct RegistryValue {
  uint32_t type = kRegBinary;
  // REG_SZ: the text's UTF-8 bytes without a terminator; REG_DWORD: 4 bytes little-endian;
  // anything else: the bytes as stored.
  std::vector<uint8_t> data;

  static RegistryValue Text(std::string_view text);
  static RegistryValue Number(uint32_t number);  // REG_BINARY, 4 bytes little-endian
  bool operator==(const RegistryValue&) const = default;
};

// The key under which the program keeps its settings.
inline constexpr std::string_view kProgramKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\QuarnExp";

// The whole content of a settings store: keys with their values, in the order a person
// or the program first wrote them. Key paths and value names compare without regard to case
// and keep the case first written. The value name "" is the key's default value ("@").
class RegistryDocument {
 public:
  // nullptr when the key or the value is absent.
  const RegistryValue* FindValue(std::string_view key, std::string_view name) const;
  bool HasKey(std::string_view key) const;
  // The value names of a key, in stored order; empty for an absent key.
  std::vector<std::string> ValueNames(std::string_view key) const;
  // The keys directly or indirectly below `key`, in stored order.
  std::vector<std::string> SubkeysOf(std::string_view key) const;

  // Creates the key when needed; a new value goes last, an existing one keeps its place.
  void SetValue(std::string_view key, std::string_view name, RegistryValue value);
  void CreateKey(std::string_view key);
  void DeleteValue(std::string_view key, std::string_view name);
  // Removes the key and every key below it.
  void DeleteKey(std::string_view key);

  // A 4-byte REG_BINARY or a REG_DWORD as an unsigned little-endian number; any other length
  // or type reads as absent.
  std::optional<uint32_t> ReadNumber(std::string_view key, std::string_view name) const;
  // Stores `number` as 4 little-endian bytes: as a REG_DWORD when the value is one already,
  // else (a new value, or one of another type) as a REG_BINARY.
  void WriteNumber(std::string_view key, std::string_view name, uint32_t number);
  // A REG_SZ value's text; any other type reads as absent.
  std::optional<std::string> ReadText(std::string_view key, std::string_view name) const;

  // A comment line is kept as the text after its ';', so a person's notes survive a rewrite
  // next to what they describe.
  struct Entry {
    std::string name;  // "" = default value
    RegistryValue value;
    std::vector<std::string> comments;  // comment lines written just before it
    bool operator==(const Entry&) const = default;
  };
  struct Key {
    std::string path;
    std::vector<Entry> values;
    std::vector<std::string> comments;  // comment lines written just before it
    bool operator==(const Key&) const = default;
  };
  const std::vector<Key>& keys() const { return keys_; }
  std::vector<Key>& mutable_keys() { return keys_; }
  // Comment lines after the last key or value.
  std::vector<std::string>& trailing_comments() { return trailing_comments_; }
  const std::vector<std::string>& trailing_comments() const { return trailing_comments_; }

  // Exact equality: same keys, values, comments, order and case.
  bool operator==(const RegistryDocument&) const = default;

 private:
  std::vector<Key> keys_;
  std::vector<std::string> trailing_comments_;
};

// Parses REGEDIT4 text. `file_name` only names the file in messages: a failure says
// "<file_name>, line <n>: <cause>".
Result<RegistryDocument> ParseRegistryText(std::string_view text, const std::string& file_name);

// The REGEDIT4 text of a document: CR LF line ends, lower-case hex, long hex lists wrapped
// with ",\" as the registry editor wraps them.
std::string FormatRegistryText(const RegistryDocument& document);

}  // namespace quarn
