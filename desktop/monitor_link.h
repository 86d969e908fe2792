#pragma once

namespace quarn::window {

// The link to the resident monitor. Its device does not exist on this platform, so opening it
// fails and every pause and resume, which callers still send in pairs around scans and folder
// listings, does nothing.
class MonitorLink {
 public:
  void Open() {}
  void Pause() {}
  void Resume() {}
};

}  // namespace quarn::window
