#include "cli/output_channel.h"

#include "platform/descriptor_output.h"

namespace quarn {

bool OutputChannel::Write(std::string_view text) {
  if (failed()) return false;
  Status put = Put(text);
  if (put.ok()) return true;
  failure_ = put.message();
  if (report_) report_(failure_);
  return false;
}

Status DescriptorChannel::Put(std::string_view text) {
  return WriteToDescriptor(descriptor_, text, "standard output");
}

}  // namespace quarn
