#pragma once

#include <functional>
#include <string>

#include "engine/user_interface.h"

namespace quarn {

class ScanSession;

// Receives each event of a library scan as one line of the --json stream, without its line
// end; returns false to stop the scan after the current file.
using EventSink = std::function<bool(const std::string& json_event)>;

// The front end of a library scan: every verdict, action and part left unscanned becomes an
// event for the sink ("line", "memory" and "message" events have nobody to read them), and no
// question is ever asked (the caller chose the action beforehand).
class EventSinkInterface : public UserInterface {
 public:
  // `without_host_path`: the scanned bytes have no path on this machine (a descriptor, a
  // buffer), so no event carries one.
  EventSinkInterface(const EventSink& sink, bool without_host_path)
      : sink_(sink), without_host_path_(without_host_path) {}

  void Attach(ScanSession* session) { session_ = session; }
  bool stopped_by_sink() const { return stopped_by_sink_; }
  // Sends an event made outside the scan (the summary), with the same rules.
  void Send(const std::string& event);

  void SetOptionsStatus(OptionsStatusPart, std::string_view) override {}
  void ShowMessage(std::string_view, std::string_view) override {}
  void AddResultLine(const ResultLine& line) override;
  void ReportUnshownAction(const ResultLine& report) override;
  void ReportUnshownIncomplete(const ResultLine& report) override;
  void ReportBootVerdict(const BootVerdict& verdict) override;

 private:
  const EventSink& sink_;
  bool without_host_path_;
  ScanSession* session_ = nullptr;
  bool stopped_by_sink_ = false;
};

}  // namespace quarn
