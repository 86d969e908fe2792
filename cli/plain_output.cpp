#include "cli/plain_output.h"

namespace quarn {

void PlainOutput::AddResultLine(const ResultLine& line) {
  out_.Write(line.text + "\n");
}

}  // namespace quarn
