#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace quarn {

enum class FieldKind {
  kNumber,  // unsigned little-endian, 1, 2 or 4 bytes
  kBytes,   // raw bytes, zero-padded to the width
  kText,    // bytes up to the width, shown as a quoted string
};

struct FieldFormat {
  std::string_view name;
  uint8_t offset;
  uint8_t width;
  FieldKind kind;
  // For a number that counts the bytes of another field: when the source leaves the number
  // out, it is the count of bytes written for that field.
  std::string_view counts = {};
};

// How the records of one section read in the signature source.
struct RecordFormat {
  std::string_view keyword;  // the source statement that adds a record to the section
  std::string_view layout;   // the record layout's name, for messages and the format guide
  int section;
  uint8_t size;  // 0 for a section whose records no reader walks (raw bytes of any size)
  std::span<const FieldFormat> fields;
  // The field that holds the record's VirusId, and where its name must come from.
  std::string_view id_field = "id";
};

// Every section but the version section (34), in section order.
std::span<const RecordFormat> AllRecordFormats();
const RecordFormat* FindRecordFormat(std::string_view keyword);
const RecordFormat& RecordFormatOfSection(int section);

}  // namespace quarn
