#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace quarn {

// Where quarnscan's standard output goes. Each Write hands over whole lines and puts all of
// them out before it returns, so a script reading a pipe sees every line as the scan sends it.
// The first write that fails (a full disk, a pipe whose reader has gone) is reported once, to
// the function given to OnFailure, and every later write does nothing: the run stops and
// ends with status 2.
class OutputChannel {
 public:
  virtual ~OutputChannel() = default;

  // Writes all of `text`; false when it or a write before it failed.
  bool Write(std::string_view text);

  bool failed() const { return !failure_.empty(); }
  // Called once, with the failure's message, when the first write fails.
  void OnFailure(std::function<void(const std::string&)> report) { report_ = std::move(report); }

 protected:
  // Puts out all of `text` or says why not.
  virtual Status Put(std::string_view text) = 0;

 private:
  std::string failure_;
  std::function<void(const std::string&)> report_;
};

// The channel over an open descriptor (standard output), not owned.
class DescriptorChannel : public OutputChannel {
 public:
  explicit DescriptorChannel(int descriptor) : descriptor_(descriptor) {}

 protected:
  Status Put(std::string_view text) override;

 private:
  int descriptor_;
};

}  // namespace quarn
