// SPDX-License-Identifier: Apache-2.0
#include "clean/cleaning_run.h"

#include "clean/cleaning_copy.h"

namespace quarn {

void ReportCleaningFailure(const CleaningContext& context, const Status& failure) {
  if (context.ui != nullptr) context.ui->ShowError(failure.message());
}

uint32_t RunCleaningStep(const CleaningTarget& target, const CleaningContext& context,
                         CleaningStep step) {
  const std::optional<CleanRecord> record =
      FindCleanRecord(target.signatures, step.section, target.virus);
  if (!record) return 0;
  auto copy = CleaningCopy::Create(target.folder, target.name, target.original);
  if (!copy) {
    ReportCleaningFailure(context, copy.status());
    return 0;
  }
  if (step.method(context, *record, (*copy)->file()) != 1) {
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
