#pragma once

#include <string_view>

#include "platform/status.h"

namespace quarn {

// Writes all of `bytes` to the open descriptor `descriptor` (standard output, say): again
// after a signal interrupts a write (a Ctrl-C while a slow reader keeps a pipe full), on from
// where a partial write stopped, and after waiting when a descriptor left non-blocking is
// full. An error names `name` and the cause: "cannot write standard output: No space left
// on device".
Status WriteToDescriptor(int descriptor, std::string_view bytes, std::string_view name);

// Makes a write to a pipe whose reader has gone fail with "Broken pipe" instead of ending
// the program at once with SIGPIPE, so that the program can say so and choose its exit
// status. For the whole process; first thing in main.
void IgnoreBrokenPipes();

}  // namespace quarn
