#include "imported/clamav/import_report.h"

namespace quarn {

uint64_t ImportReport::imported() const {
  uint64_t total = 0;
  for (const auto& [form, counts] : forms_) total += counts.imported;
  return total;
}

uint64_t ImportReport::skipped() const {
  uint64_t total = 0;
  for (const auto& [form, counts] : forms_) {
    for (const auto& [reason, count] : counts.skipped) total += count;
  }
  return total;
}

std::string ImportReport::Format() const {
  std::string text;
  for (const auto& [form, counts] : forms_) {
    uint64_t skipped = 0;
    std::string reasons;
    for (const auto& [reason, count] : counts.skipped) {
      skipped += count;
      reasons += (reasons.empty() ? "" : ", ") + std::to_string(count) + " " + reason;
    }
    text += "  " + form + ": " + std::to_string(counts.imported) + " imported, " +
            std::to_string(skipped) + " skipped" + (reasons.empty() ? "" : " (" + reasons + ")") +
            "\n";
  }
  return text;
}

}  // namespace quarn
