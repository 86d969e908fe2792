#include "shell/scan_file.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "clean/file_cleaner.h"
#include "engine/file_verdict.h"
#include "engine/utf8_sequence.h"
#include "engine/virus_names.h"
#include "shell/action_texts.h"
#include "shell/file_detection.h"

namespace quarn {
namespace {

constexpr int kExactText = 23;
constexpr int kVariantText = 24;
constexpr int kHeuristicText = 25;
constexpr int kCannotChangeText = 445;

struct Detected {
  const std::string& name;
  const std::string& display_path;
  const std::string& host_path;
  bool executable;
  uint32_t virus;
  std::string virus_name;
  // The way into the container that holds the file; null for a host file.
  const std::vector<PathLayer>* layers;
};

std::vector<PathLayer> LayersOf(const std::vector<PathLayer>* layers) {
  return layers != nullptr ? *layers : std::vector<PathLayer>{};
}

ResultLine ActionLine(const Detected& file, ActionKind action, bool ok, std::string_view text) {
  ResultLine line;
  line.icon = ResultIcon::kBlank;
  line.text = std::string(text);
  line.kind = ReportKind::kAction;
  line.path = file.display_path;
  line.host_path = file.host_path;
  line.layers = LayersOf(file.layers);
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

// `detected`: the file's detection when it was made already, else nullptr; `layers`: the way
// into the container that holds the file, null for a host file.
void ScanFileAt(ScanSession& session, Folder& folder, const std::string& name,
                const std::string& display_path, const std::string& host_path, int depth,
                const FileDetection* detected = nullptr,
                const std::vector<PathLayer>* layers = nullptr);

void Clean(ScanSession& session, Folder& folder, const Detected& file, int depth) {
  uint32_t outcome = 0;
  {
    WritableWhileCleaning writable(folder, file.name);
    if (!folder.OpenFile(file.name, OpenMode::kReadWrite)) {
      session.ui().ShowMessage(kErrorCaption, std::string(kCannotOpenText) + file.name);
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
  session.AddLine(
      ActionLine(file, ActionKind::kClean, removed, removed ? kRemovedLine : kContactSupportLine));
  // A file may carry a second infection, or what the cleaner left of this one.
  if (removed && depth < kMaxRescans) {
    ScanFileAt(session, folder, file.name, file.display_path, file.host_path, depth + 1);
  }
}

void Delete(ScanSession& session, Folder& folder, const Detected& file) {
  if (!folder.Delete(file.name)) {
    session.ui().ShowMessage(kErrorCaption, std::string(kCannotDeleteText) + file.display_path);
    session.ui().ReportUnshownAction(ActionLine(file, ActionKind::kDelete, false, ""));
    return;
  }
  ++session.counters().deleted;
  session.AddLine(ActionLine(file, ActionKind::kDelete, true, kDeletedLine));
}

void Rename(ScanSession& session, Folder& folder, const Detected& file) {
  const std::optional<std::string> new_name = RenamedName(file.name);
  if (!new_name || !folder.Rename(file.name, *new_name, RenameMode::kNoReplace)) {
    session.ui().ShowMessage(kErrorCaption, std::string(kCannotRenameText) + file.display_path);
    session.ui().ReportUnshownAction(ActionLine(file, ActionKind::kRename, false, ""));
    return;
  }
  ++session.counters().renamed;
  ResultLine line = ActionLine(file, ActionKind::kRename, true, kRenamedLine);
  line.new_path = RenamedName(file.display_path).value_or(file.display_path);
  session.AddLine(std::move(line));
}

// A file inside a container is read only for now: the action is refused without a question or
// a message box, since a hundred infected entries must not mean a hundred dialogs, and the
// container itself is never touched for what one of its files holds.
void RefuseInContainer(ScanSession& session, const Detected& file, ActionKind action) {
  session.AddLine(
      ActionLine(file, action, false,
                 std::string(LoadText(session.language(), kCannotChangeText)) + file.display_path));
}

bool Confirmed(ScanSession& session, bool ask, std::string_view caption, std::string text) {
  return !ask || session.ui().Ask(caption, text);
}

void ScanFileAt(ScanSession& session, Folder& folder, const std::string& name,
                const std::string& display_path, const std::string& host_path, int depth,
                const FileDetection* detected, const std::vector<PathLayer>* layers) {
  const Language language = session.language();
  const FileDetection detection = detected != nullptr
                                      ? *detected
                                      : DetectFileIn(session.signatures(), folder, name,
                                                     session.options().heuristics_enabled == 1);
  if (!detection.opened) return;
  const FileVerdict& verdict = detection.verdict;
  if (verdict.virus != 0) {
    Detected infected{name,          display_path,
                      host_path,     verdict.executable,
                      verdict.virus, GetVirusName(session.names(), verdict.virus),
                      layers};
    ResultLine line;
    line.icon = ResultIcon::kVirus;
    line.text = display_path +
                std::string(LoadText(language, verdict.variant == 1 ? kVariantText : kExactText)) +
                infected.virus_name;
    line.kind = ReportKind::kDetection;
    line.path = display_path;
    line.host_path = host_path;
    line.layers = LayersOf(layers);
    line.virus_id = verdict.virus;
    line.virus_name = infected.virus_name;
    line.variant = verdict.variant == 1;
    session.AddLine(std::move(line));
    ++session.counters().infected;
    session.ShowCounter(StatusPart::kInfected);

    const uint32_t action = session.options().scan_action;
    const bool exact = verdict.variant == 0;
    const std::string infected_by = std::string(kInfectedBy) + infected.virus_name;
    if (layers != nullptr) {
      switch (action) {
        case kActionCleanAuto:
        case kActionCleanAsk:
          if (exact) RefuseInContainer(session, infected, ActionKind::kClean);
          break;
        case kActionDeleteAuto:
        case kActionDeleteAsk:
          RefuseInContainer(session, infected, ActionKind::kDelete);
          break;
        case kActionRenameAuto:
        case kActionRenameAsk:
          RefuseInContainer(session, infected, ActionKind::kRename);
          break;
        default:
          break;
      }
      return;
    }
    switch (action) {
      case kActionCleanAuto:
      case kActionCleanAsk:
        if (exact && Confirmed(session, action == kActionCleanAsk, kCleanCaption,
                               std::string(kCleanQuestion) + display_path +
                                   std::string(kCleanQuestionVirus) + infected.virus_name)) {
          Clean(session, folder, infected, depth);
        }
        break;
      case kActionDeleteAuto:
      case kActionDeleteAsk:
        if (Confirmed(session, action == kActionDeleteAsk, kDeleteCaption,
                      std::string(kDeleteQuestion) + display_path + infected_by)) {
          Delete(session, folder, infected);
        }
        break;
      case kActionRenameAuto:
      case kActionRenameAsk:
        if (Confirmed(session, action == kActionRenameAsk, kRenameCaption,
                      std::string(kRenameQuestion) + display_path + infected_by)) {
          Rename(session, folder, infected);
        }
        break;
      default:
        break;
    }
    return;
  }
  if (verdict.suspicious != 0) {
    ResultLine line;
    line.icon = ResultIcon::kVirus;
    line.text = display_path + std::string(LoadText(language, kHeuristicText));
    line.kind = ReportKind::kSuspicious;
    line.path = display_path;
    line.host_path = host_path;
    line.layers = LayersOf(layers);
    session.AddLine(std::move(line));
    ++session.counters().suspicious;
  }
}

}  // namespace

std::optional<std::string> RenamedName(const std::string& name) {
  // Character boundaries come from the start: a UTF-8 sequence is one character and so is
  // every byte outside one, as the result line shows it.
  std::vector<size_t> starts;
  for (size_t at = 0; at < name.size(); at += std::max<size_t>(1, WellFormedUtf8Length(name, at))) {
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
                         const std::vector<PathLayer>& layers) {
  ScanFileAt(session, folder, name, display_path, host_path, 0, nullptr, &layers);
}

}  // namespace quarn
