#include "cli/plain_output.h"

namespace quarn {

void PlainOutput::AddResultLine(const ResultLine& line) {
  std::fwrite(line.text.data(), 1, line.text.size(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

}  // namespace quarn
