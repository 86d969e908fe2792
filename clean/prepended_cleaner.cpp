#include "clean/prepended_cleaner.h"

#include "clean/cleaning_copy.h"
#include "engine/byte_reader.h"

namespace quarn {
namespace {

constexpr int kPrefixLengthField = 2;

}  // namespace

uint32_t CleanPrepended(const CleaningTarget& target, const CleaningContext& context,
                        const CleanRecord& record) {
  const std::string& name = target.name;
  if (name.empty() || name.back() == '$') return 0;
  const std::string temporary_name = name.substr(0, name.size() - 1) + "$";
  const uint16_t prefix_length = ReadU16(record.view(), kPrefixLengthField);
  // The "$" name belongs to whoever made it: when it exists, nothing is touched.
  bool write_failed = false;
  auto copy = CleaningCopy::CreateTail(target.folder, name, target.original, temporary_name,
                                       prefix_length, &write_failed);
  if (!copy) {
    if (write_failed) {
      ReportWriteFailure(context);
    } else if (!target.folder.OpenFile(temporary_name, OpenMode::kRead).ok()) {
      ReportCleaningFailure(context, copy.status());
    }
    return 0;
  }
  if (Status committed = (*copy)->Commit(target.times); !committed) {
    ReportCleaningFailure(context, committed);
    return 0;
  }
  return 1;
}

}  // namespace quarn
