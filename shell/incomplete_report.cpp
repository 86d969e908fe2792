#include "shell/incomplete_report.h"

namespace quarn {
namespace {

constexpr int kNotScannedText = 442;
constexpr int kMoreBeforeText = 443;
constexpr int kMoreAfterText = 444;
constexpr int kCannotReadText = 446;
constexpr int kMoreUnreadableText = 447;
constexpr int kFirstCauseText = 450;   // then one per IncompleteReason, in its order
constexpr int kVerifyCauseText = 448;  // the last reason's: the text after the others is taken

int CauseText(IncompleteReason reason) {
  if (reason == IncompleteReason::kVerify) return kVerifyCauseText;
  return kFirstCauseText + static_cast<int>(reason);
}

bool LeavesUnjudged(IncompleteReason reason) {
  return reason == IncompleteReason::kUnreadable || reason == IncompleteReason::kResource;
}

void AddMoreLine(ScanSession& session, uint32_t left_out, int after_text) {
  const Language language = session.language();
  session.AddTextLine(ResultIcon::kBlank, std::string(LoadText(language, kMoreBeforeText)) +
                                              std::to_string(left_out) +
                                              std::string(LoadText(language, after_text)));
}

}  // namespace

void IncompleteLines::Report(ScanSession& session, std::string path, std::string host_path,
                             std::vector<PathLayer> layers, IncompleteReason reason) {
  const Language language = session.language();
  ResultLine line;
  line.icon = ResultIcon::kBlank;
  line.text = std::string(LoadText(language, kNotScannedText)) + path + " (" +
              std::string(LoadText(language, CauseText(reason))) + ")";
  line.kind = ReportKind::kIncomplete;
  line.path = std::move(path);
  line.host_path = std::move(host_path);
  line.layers = std::move(layers);
  line.reason = std::string(IncompleteReasonName(reason));
  ++session.counters().incomplete;
  if (LeavesUnjudged(reason)) ++session.counters().unjudged;
  if (shown_ < kMaxIncompleteLines) {
    ++shown_;
    session.AddLine(std::move(line));
  } else {
    ++left_out_;
    session.ui().ReportUnshownIncomplete(line);
  }
}

void IncompleteLines::Finish(ScanSession& session) {
  if (left_out_ == 0) return;
  AddMoreLine(session, left_out_, kMoreAfterText);
  left_out_ = 0;
}

void ReportUnreadable(ScanSession& session, const std::string& path, const std::string& host_path,
                      const std::string& cause) {
  ResultLine line;
  line.icon = ResultIcon::kBlank;
  line.text =
      std::string(LoadText(session.language(), kCannotReadText)) + path + " (" + cause + ")";
  line.kind = ReportKind::kIncomplete;
  line.path = path;
  line.host_path = host_path;
  line.reason = std::string(IncompleteReasonName(IncompleteReason::kUnreadable));
  ++session.counters().incomplete;
  ++session.counters().unjudged;
  ScanSession::UnreadableTally& tally = session.unreadable_tally();
  if (tally.shown < kMaxIncompleteLines) {
    ++tally.shown;
    session.AddLine(std::move(line));
  } else {
    ++tally.left_out;
    session.ui().ReportUnshownIncomplete(line);
  }
}

void FinishUnreadable(ScanSession& session) {
  ScanSession::UnreadableTally& tally = session.unreadable_tally();
  if (tally.left_out == 0) return;
  AddMoreLine(session, tally.left_out, kMoreUnreadableText);
  tally.left_out = 0;
}

}  // namespace quarn
