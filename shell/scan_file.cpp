// SPDX-License-Identifier: Apache-2.0
#include "shell/scan_file.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "clean/file_cleaner.h"
#include "engine/file_verdict.h"
#include "engine/virus_names.h"
#include "platform/text_encoding.h"
#include "shell/action_texts.h"
#include "shell/file_detection.h"
#include "shell/incomplete_report.h"
#include "sysarea/boot_sector_io.h"

namespace quarn {
namespace {

// Text `id` of the string table in the session's language.
std::string Said(const ScanSession& session, int id) {
  return std::string(LoadText(session.language(), id));
}

constexpr int kExactText = 23;
constexpr int kVariantText = 24;
constexpr int kHeuristicText = 25;

struct Detected {
  const std::string& name;
  const std::string& display_path;
  const std::string& host_path;
  bool executable;
  uint32_t virus;
  std::string virus_name;
  // Where the file lies inside a container; null for a host file.
  const InnerFile* inner;
};

std::vector<PathLayer> LayersOf(const InnerFile* inner) {
  return inner != nullptr ? inner->layers : std::vector<PathLayer>{};
}

// An action inside an image is recorded there: the image's replace may still take it back.
class ImageAction {
 public:
  explicit ImageAction(const Detected& file)
      : image_(file.inner != nullptr ? file.inner->image : nullptr),
        token_(image_ != nullptr ? image_->BeginAction() : 0) {}
  void End(bool done, ActionKind kind, const ResultLine& line) {
    if (image_ != nullptr) image_->EndAction(token_, done, kind, line);
  }

 private:
  ImageChanges* image_;
  uint64_t token_;
};

ResultLine ActionLine(const Detected& file, ActionKind action, bool ok, std::string_view text) {
  ResultLine line;
  line.icon = ResultIcon::kBlank;
  line.text = std::string(text);
  line.kind = ReportKind::kAction;
  line.path = file.display_path;
  line.host_path = file.host_path;
  line.layers = LayersOf(file.inner);
  line.action = action;
  line.ok = ok;
  return line;
}

// Makes the file writable for the clean and gives its attributes back afterwards, to the
// cleaned file when the clean replaced it.
class WritableWhileCleaning {
 public:
  WritableWhileCleaning(Folder& folder, const std::string& name) : folder_(folder), name_(name) {
    auto file = folder_.OpenFile(name_, OpenMode::kRead);
    if (!file) return;
    saved_ = (*file)->GetAttributes();
    if (saved_ && saved_->read_only) {
      FileAttributes normal = *saved_;
      normal.read_only = false;
      (*file)->SetAttributes(normal);
    }
  }
  ~WritableWhileCleaning() {
    if (!saved_) return;
    if (auto file = folder_.OpenFile(name_, OpenMode::kRead)) (*file)->SetAttributes(*saved_);
  }

 private:
  Folder& folder_;
  const std::string& name_;
  std::optional<FileAttributes> saved_;
};

void Clean(ScanSession& session, Folder& folder, const Detected& file, int depth);

// `detected`: the file's detection when it was made already, else nullptr; `inner`: where
// the file lies inside a container, null for a host file.
void ScanFileAt(ScanSession& session, Folder& folder, const std::string& name,
                const std::string& display_path, const std::string& host_path, int depth,
                const FileDetection* detected = nullptr, const InnerFile* inner = nullptr);

void Clean(ScanSession& session, Folder& folder, const Detected& file, int depth) {
  uint32_t outcome = 0;
  ImageAction recorded(file);
  {
    WritableWhileCleaning writable(folder, file.name);
    if (!folder.OpenFile(file.name, OpenMode::kReadWrite)) {
      session.ui().ShowError(Said(session, kCannotOpenText) + file.name);
    } else if (file.executable) {
      outcome = CleanExecutable(session.signatures(), folder, file.name, file.virus, session.ui(),
                                session.stale_copies());
    } else {
      outcome = CleanNonExecutable(session.signatures(), folder, file.name, file.virus,
                                   session.ui(), session.stale_copies());
    }
  }
  const bool removed = outcome == 1;
  if (removed) ++session.counters().cleaned;
  ResultLine line = ActionLine(file, ActionKind::kClean, removed,
                               Said(session, removed ? kRemovedLine : kContactSupportLine));
  recorded.End(removed, ActionKind::kClean, line);
  session.AddLine(std::move(line));
  // A file may carry a second infection, or what the cleaner left of this one.
  if (removed && depth < kMaxRescans) {
    ScanFileAt(session, folder, file.name, file.display_path, file.host_path, depth + 1, nullptr,
               file.inner);
  }
}

void Delete(ScanSession& session, Folder& folder, const Detected& file) {
  ImageAction recorded(file);
  if (!folder.Delete(file.name)) {
    ResultLine failed = ActionLine(file, ActionKind::kDelete, false, "");
    recorded.End(false, ActionKind::kDelete, failed);
    session.ui().ShowError(Said(session, kCannotDeleteText) + file.display_path);
    session.ui().ReportUnshownAction(failed);
    return;
  }
  ++session.counters().deleted;
  ResultLine line = ActionLine(file, ActionKind::kDelete, true, Said(session, kDeletedLine));
  recorded.End(true, ActionKind::kDelete, line);
  session.AddLine(std::move(line));
}

void Rename(ScanSession& session, Folder& folder, const Detected& file) {
  ImageAction recorded(file);
  const std::optional<std::string> new_name = RenamedName(file.name);
  if (!new_name || !folder.Rename(file.name, *new_name, RenameMode::kNoReplace)) {
    ResultLine failed = ActionLine(file, ActionKind::kRename, false, "");
    recorded.End(false, ActionKind::kRename, failed);
    session.ui().ShowError(Said(session, kCannotRenameText) + file.display_path);
    session.ui().ReportUnshownAction(failed);
    return;
  }
  ++session.counters().renamed;
  ResultLine line = ActionLine(file, ActionKind::kRename, true, Said(session, kRenamedLine));
  line.new_path = RenamedName(file.display_path).value_or(file.display_path);
  recorded.End(true, ActionKind::kRename, line);
  session.AddLine(std::move(line));
}

// A file inside a container that cannot change: the action is refused without a question or
// a message box, since a hundred infected entries must not mean a hundred dialogs, and the
// container itself is never touched for what one of its files holds.
void RefuseInContainer(ScanSession& session, const Detected& file, ActionKind action) {
  session.AddLine(
      ActionLine(file, action, false,
                 std::string(LoadText(session.language(), kCannotChangeText)) + file.display_path));
}

// The action the scan's setting takes on a detection, if any: a clean only for an exact one.
std::optional<ActionKind> ActionFor(uint32_t setting, bool exact) {
  switch (setting) {
    case kActionCleanAuto:
    case kActionCleanAsk:
      if (exact) return ActionKind::kClean;
      return std::nullopt;
    case kActionDeleteAuto:
    case kActionDeleteAsk:
      return ActionKind::kDelete;
    case kActionRenameAuto:
    case kActionRenameAsk:
      return ActionKind::kRename;
    default:
      return std::nullopt;
  }
}

// The question of an -ask setting; true without one.
bool Confirmed(ScanSession& session, const Detected& file, ActionKind action) {
  const uint32_t setting = session.options().scan_action;
  if (setting != kActionCleanAsk && setting != kActionDeleteAsk && setting != kActionRenameAsk) {
    return true;
  }
  const std::string infected_by = Said(session, kExactText) + file.virus_name;
  switch (action) {
    case ActionKind::kClean:
      return session.ui().Ask(Said(session, kCleanCaption),
                              Said(session, kCleanQuestion) + file.display_path +
                                  Said(session, kQuestionVirus) + file.virus_name);
    case ActionKind::kDelete:
      return session.ui().Ask(Said(session, kDeleteCaption),
                              Said(session, kDeleteQuestion) + file.display_path + infected_by);
    case ActionKind::kRename:
      break;
  }
  return session.ui().Ask(Said(session, kRenameCaption),
                          Said(session, kRenameQuestion) + file.display_path + infected_by);
}

void Act(ScanSession& session, Folder& folder, const Detected& file, ActionKind action, int depth) {
  switch (action) {
    case ActionKind::kClean:
      Clean(session, folder, file, depth);
      return;
    case ActionKind::kDelete:
      Delete(session, folder, file);
      return;
    case ActionKind::kRename:
      Rename(session, folder, file);
      return;
  }
}

// Inside a container the action goes to the image's working copy, asked about as on the
// host, once the file is known to be one that can change.
void ActInContainer(ScanSession& session, const Detected& file, ActionKind action, int depth) {
  if (file.inner->image == nullptr) {
    RefuseInContainer(session, file, action);
    return;
  }
  ChangePlace place =
      file.inner->image->OpenForChange(file.inner->volume, file.inner->entry, file.name);
  switch (place.access) {
    case ChangeAccess::kRefused:
      RefuseInContainer(session, file, action);
      return;
    case ChangeAccess::kFailed:
      session.ui().ShowError(place.message);
      session.ui().ReportUnshownAction(ActionLine(file, action, false, ""));
      return;
    case ChangeAccess::kGranted:
      break;
  }
  if (Confirmed(session, file, action)) Act(session, *place.folder, file, action, depth);
}

void ScanFileAt(ScanSession& session, Folder& folder, const std::string& name,
                const std::string& display_path, const std::string& host_path, int depth,
                const FileDetection* detected, const InnerFile* inner) {
  const Language language = session.language();
  const FileDetection detection = detected != nullptr
                                      ? *detected
                                      : DetectFileIn(session.signatures(), folder, name,
                                                     session.options().heuristics_enabled == 1,
                                                     nullptr, session.imported_scan());
  if (!detection.opened) return;
  const FileVerdict& verdict = detection.verdict;
  if (verdict.virus != 0) {
    Detected infected{name,          display_path,
                      host_path,     verdict.executable,
                      verdict.virus, session.VirusName(verdict.virus),
                      inner};
    ResultLine line;
    line.icon = ResultIcon::kVirus;
    line.text = display_path +
                std::string(LoadText(language, verdict.variant == 1 ? kVariantText : kExactText)) +
                infected.virus_name;
    line.kind = ReportKind::kDetection;
    line.path = display_path;
    line.host_path = host_path;
    line.layers = LayersOf(inner);
    line.virus_id = verdict.virus;
    line.virus_name = infected.virus_name;
    line.variant = verdict.variant == 1;
    session.AddLine(std::move(line));
    ++session.counters().infected;
    session.ShowCounter(StatusPart::kInfected);

    const std::optional<ActionKind> action =
        ActionFor(session.options().scan_action, verdict.variant == 0);
    if (!action) return;
    if (inner != nullptr) {
      ActInContainer(session, infected, *action, depth);
    } else if (Confirmed(session, infected, *action)) {
      Act(session, folder, infected, *action, depth);
    }
    return;
  }
  if (verdict.imported_unfinished) {
    // The lookup that failed might have matched: the file is not called clean.
    ReportUnreadable(session, display_path, host_path, kImportedUnfinishedCause);
  } else if (verdict.unverified) {
    // A host file gives one such line at most: only a container's files share a cap.
    IncompleteLines own;
    IncompleteLines& lines = inner != nullptr && inner->incomplete ? *inner->incomplete : own;
    lines.Report(session, display_path, host_path, LayersOf(inner), IncompleteReason::kVerify);
  }
  if (verdict.suspicious != 0) {
    ResultLine line;
    line.icon = ResultIcon::kVirus;
    line.text = display_path + std::string(LoadText(language, kHeuristicText));
    line.kind = ReportKind::kSuspicious;
    line.path = display_path;
    line.host_path = host_path;
    line.layers = LayersOf(inner);
    session.AddLine(std::move(line));
    ++session.counters().suspicious;
  }
}

}  // namespace

std::optional<std::string> RenamedName(const std::string& name) {
  // Character boundaries come from the start: a UTF-8 sequence is one character and so is
  // every byte outside one, as the result line shows it.
  std::vector<size_t> starts;
  for (size_t at = 0; at < name.size(); at += std::max<size_t>(1, Utf8SequenceAt(name, at))) {
    starts.push_back(at);
  }
  if (starts.size() < 3) return std::nullopt;
  const size_t start = starts[starts.size() - 3];
  const size_t end = starts[starts.size() - 2];
  std::string renamed = name.substr(0, start) + 'V' + name.substr(end);
  if (renamed == name) return std::nullopt;
  return renamed;
}

void ScanFile(ScanSession& session, Folder& folder, const std::string& name,
              const std::string& display_path, const std::string& host_path) {
  ScanFileAt(session, folder, name, display_path, host_path, 0);
}

void ScanFile(ScanSession& session, Folder& folder, const std::string& name,
              const std::string& display_path, const std::string& host_path,
              const FileDetection& detected) {
  ScanFileAt(session, folder, name, display_path, host_path, 0, &detected);
}

void ScanFileInContainer(ScanSession& session, Folder& folder, const std::string& name,
                         const std::string& display_path, const std::string& host_path,
                         const InnerFile& inner, const FileDetection* detected) {
  ScanFileAt(session, folder, name, display_path, host_path, 0, detected, &inner);
}

}  // namespace quarn
