#include "cli/plain_output.h"

#include "cli/terminal_text.h"
#include "shell/display_text.h"

namespace quarn {

void PlainOutput::AddResultLine(const ResultLine& line) {
  out_.Write((display_of_host_ ? HostPathText(line) : line.text) + "\n");
}

std::string PlainOutput::HostPathText(const ResultLine& line) const {
  if (line.path.empty() || line.host_path.empty()) return line.text;
  // The text shows the path as the result list does; that is what is found and replaced.
  const std::string shown = ResultLineText(line.path);
  const size_t at = line.text.find(shown);
  if (at == std::string::npos) return line.text;
  std::string host = line.host_path;
  if (!line.layers.empty()) {
    // Inside a container the drive form is the container's display path, "!" and the path
    // inside; on a drive made of an image it is the drive's path, which follows the image.
    const std::string outer = display_of_host_(line.host_path);
    const bool under_outer = line.path.size() > outer.size() &&
                             line.path.compare(0, outer.size(), outer) == 0 &&
                             line.path[outer.size()] == '!';
    host += under_outer ? line.path.substr(outer.size()) : "!" + line.path;
  }
  std::string text = line.text;
  text.replace(at, shown.size(), TerminalSafeText(host));
  return text;
}

}  // namespace quarn
