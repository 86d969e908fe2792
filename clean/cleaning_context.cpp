// SPDX-License-Identifier: Apache-2.0
#include "clean/cleaning_context.h"

#include <cstdint>

namespace quarn {

void ReportWriteFailure(const CleaningContext& context) {
  if (context.ui != nullptr) context.ui->ShowError(context.ui->Text(kWriteErrorText));
}

bool WriteAt(File& file, uint64_t offset, const void* bytes, uint32_t length) {
  if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
  if (!file.Seek(static_cast<int64_t>(offset), SeekOrigin::kBegin)) return false;
  return file.Write(bytes, length) == length;
}

}  // namespace quarn
