#include "clean/prepended_cleaner.h"

#include "clean/cleaning_copy.h"
#include "platform/byte_reader.h"

namespace quarn {
namespace {

constexpr int kPrefixLengthField = 2;

// Unknown counts as there: a name that cannot be looked at is not touched either.
bool NameExists(Folder& folder, const std::string& name) {
  auto found = folder.Examine(name);
  return !found || found->has_value();
}

}  // namespace

uint32_t CleanPrepended(const CleaningTarget& target, const CleaningContext& context,
                        const CleanRecord& record) {
  const std::string& name = target.name;
  if (name.empty() || name.back() == '$') return 0;
  // A file of the "$" name (GAME.CO$ for GAME.COM) declines the clean, silently, and is never
  // touched. The host itself is built under a copy's own name, which the next clean removes
  // should a crash leave it behind.
  const std::string dollar_name = name.substr(0, name.size() - 1) + "$";
  if (NameExists(target.folder, dollar_name)) return 0;
  const uint16_t prefix_length = ReadU16(record.view(), kPrefixLengthField);
  auto copy = CleaningCopy::Begin(target.folder, name, target.original);
  if (!copy) {
    ReportCleaningFailure(context, copy.status());
    return 0;
  }
  bool write_failed = false;
  if (Status filled = (*copy)->FillFrom(target.original, prefix_length, &write_failed); !filled) {
    if (write_failed) {
      ReportWriteFailure(context);
    } else {
      ReportCleaningFailure(context, filled);
    }
    if (Status discarded = (*copy)->Discard(); !discarded)
      ReportCleaningFailure(context, discarded);
    return 0;
  }
  if (Status committed = (*copy)->Commit(target.times); !committed) {
    ReportCleaningFailure(context, committed);
    return 0;
  }
  return 1;
}

}  // namespace quarn
