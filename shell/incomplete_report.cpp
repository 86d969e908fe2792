#include "shell/incomplete_report.h"

namespace quarn {
namespace {

constexpr int kNotScannedText = 442;
constexpr int kMoreBeforeText = 443;
constexpr int kMoreAfterText = 444;
constexpr int kFirstCauseText = 450;  // then one per IncompleteReason, in its order

}  // namespace

void IncompleteLines::Report(ScanSession& session, std::string path, std::string host_path,
                             std::vector<PathLayer> layers, IncompleteReason reason) {
  const Language language = session.language();
  ResultLine line;
  line.icon = ResultIcon::kBlank;
  line.text = std::string(LoadText(language, kNotScannedText)) + path + " (" +
              std::string(LoadText(language, kFirstCauseText + static_cast<int>(reason))) + ")";
  line.kind = ReportKind::kIncomplete;
  line.path = std::move(path);
  line.host_path = std::move(host_path);
  line.layers = std::move(layers);
  line.reason = std::string(IncompleteReasonName(reason));
  ++session.counters().incomplete;
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
  const Language language = session.language();
  session.AddTextLine(ResultIcon::kBlank, std::string(LoadText(language, kMoreBeforeText)) +
                                              std::to_string(left_out_) +
                                              std::string(LoadText(language, kMoreAfterText)));
  left_out_ = 0;
}

}  // namespace quarn
