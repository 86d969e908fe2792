#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace quarn {

// What an import took and left, by form (the record file's extension: "ndb", "hdb", "ldb"…)
// and, for what it left, by reason.
class ImportReport {
 public:
  // `count` may be negative: a signature taken first and dropped later.
  void CountImported(const std::string& form, int64_t count = 1) {
    forms_[form].imported += static_cast<uint64_t>(count);
  }
  void CountSkipped(const std::string& form, const std::string& reason) {
    ++forms_[form].skipped[reason];
  }
  // A line about a source as a whole: "daily.cvd: digital signature not checked (…)".
  void AddNote(std::string note) { notes_.push_back(std::move(note)); }
  const std::vector<std::string>& notes() const { return notes_; }

  uint64_t imported() const;
  uint64_t skipped() const;

  // One line per form, in name order: "  ndb: 5000 imported, 12 skipped (10 offset form, 2
  // negated alternative)".
  std::string Format() const;

 private:
  struct FormCounts {
    uint64_t imported = 0;
    std::map<std::string, uint64_t> skipped;
  };
  std::map<std::string, FormCounts> forms_;
  std::vector<std::string> notes_;
};

}  // namespace quarn
