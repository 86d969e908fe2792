// SPDX-License-Identifier: Apache-2.0
#include "clean/file_cleaner.h"

#include <memory>

#include "clean/appended_com_cleaner.h"
#include "clean/appended_exe_cleaner.h"
#include "clean/cleaning_run.h"
#include "clean/dos_entry.h"
#include "clean/encrypted_com_cleaner.h"
#include "clean/encrypted_exe_cleaner.h"
#include "clean/macro_cleaner.h"
#include "clean/pe_cleaner.h"
#include "clean/prepended_cleaner.h"
#include "engine/detector_state.h"
#include "engine/entry_locator.h"
#include "engine/imported_detector.h"
#include "engine/section_directory.h"

namespace quarn {
namespace {

// The original, open for reading for as long as the methods run, and its times as they
// were before any of them.
struct Original {
  std::unique_ptr<File> file;
  FileTimes times;
};

std::unique_ptr<Original> OpenOriginal(Folder& folder, const std::string& name) {
  auto file = folder.OpenFile(name, OpenMode::kRead);
  if (!file) return nullptr;
  auto original = std::make_unique<Original>();
  original->file = std::move(*file);
  original->times = original->file->GetTimes().value_or(FileTimes{});
  return original;
}

}  // namespace

void RemoveStaleCopies(StaleCopies& stale_copies, Folder& folder, const std::string& name,
                       UserInterface& ui) {
  for (const Status& stays : stale_copies.Remove(folder, name)) {
    ui.ShowError(stays.message());
  }
}

uint32_t CleanExecutable(const DatabaseImage& signatures, Folder& folder, const std::string& name,
                         uint32_t virus, UserInterface& ui, StaleCopies& stale_copies) {
  // An imported signature has no cleaning record; its id cut to 16 bits names another's.
  if (IsImportedVirusId(virus)) return 0;
  RemoveStaleCopies(stale_copies, folder, name, ui);
  std::unique_ptr<Original> original = OpenOriginal(folder, name);
  if (!original) return 0;
  CleaningTarget target{signatures, folder, name, *original->file, virus, original->times};
  CleaningContext context;
  context.ui = &ui;
  LocateDosEntry(*original->file, &context.entry_offset);
  for (CleaningStep step : {CleaningStep{kExeCleanSection, CleanAppendedExe},
                            CleaningStep{kEncryptedExeCleanSection, CleanEncryptedExe}}) {
    if (RunCleaningStep(target, context, step) == 1) return 1;
  }
  DetectorState state;
  uint32_t pe_header_offset = 0;
  uint64_t section_header_offset = 0;
  if (LocatePeEntry(*original->file, state, &pe_header_offset, &section_header_offset) != 0) {
    return 0;
  }
  context.entry_offset = state.entry_position;
  context.pe_header_offset = pe_header_offset;
  context.section_header_offset = section_header_offset;
  return RunCleaningStep(target, context, {kPeCleanSection, CleanPeFile});
}

uint32_t CleanNonExecutable(const DatabaseImage& signatures, Folder& folder,
                            const std::string& name, uint32_t virus, UserInterface& ui,
                            StaleCopies& stale_copies) {
  // An imported signature has no cleaning record; its id cut to 16 bits names another's.
  if (IsImportedVirusId(virus)) return 0;
  RemoveStaleCopies(stale_copies, folder, name, ui);
  std::unique_ptr<Original> original = OpenOriginal(folder, name);
  if (!original) return 0;
  CleaningTarget target{signatures, folder, name, *original->file, virus, original->times};
  CleaningContext context;
  context.ui = &ui;
  if (RunCleaningStep(target, context, {kComCleanSection, CleanAppendedCom}) == 1) return 1;
  if (auto record = FindCleanRecord(signatures, kPrependCleanSection, virus)) {
    if (CleanPrepended(target, context, *record) == 1) return 1;
  }
  for (CleaningStep step : {CleaningStep{kEncryptedComCleanSection, CleanEncryptedCom},
                            CleaningStep{kMacroCleanSection, CleanWordMacros}}) {
    if (RunCleaningStep(target, context, step) == 1) return 1;
  }
  return 0;
}

}  // namespace quarn
