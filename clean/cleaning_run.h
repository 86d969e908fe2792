#pragma once

#include <cstdint>
#include <string>

#include "clean/clean_record.h"
#include "clean/cleaning_context.h"
#include "engine/database_image.h"
#include "platform/file.h"
#include "platform/folder.h"

namespace quarn {

// Every method that rebuilds a host inside a copy of the infected file has this shape.
using CleaningMethod = uint32_t (*)(const CleaningContext&, const CleanRecord&, File& copy);

struct CleaningStep {
  int section;  // where the method's records are
  CleaningMethod method;
};

// The file one clean works on, and what it keeps across the methods it tries.
struct CleaningTarget {
  const DatabaseImage& signatures;
  Folder& folder;
  const std::string& name;
  File& original;  // open for reading; never written
  uint32_t virus;
  FileTimes times;  // taken before any method ran, given back to the cleaned file
};

// Tries one method: when its section holds a record for the virus, the method runs on a
// fresh copy of the original, and on 1 the copy replaces the original with the saved times.
// Returns 1 only when the original has been replaced. A copy that cannot be made or put in
// place is reported with its cause (the file's path and why) and gives 0.
uint32_t RunCleaningStep(const CleaningTarget& target, const CleaningContext& context,
                         CleaningStep step);

// Shows a failure of the copy machinery: the file's path and the cause.
void ReportCleaningFailure(const CleaningContext& context, const Status& failure);

}  // namespace quarn
