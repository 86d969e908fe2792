#pragma once

namespace quarn {

// What quarnscan's exit status tells a script. When several apply, the first of
// kExitStopped, kExitCannotRun, kExitFound wins: a stopped scan or a missing target means
// the run did not see everything it was asked to.
inline constexpr int kExitNothingFound = 0;
inline constexpr int kExitFound = 1;      // a virus or a suspicious file
inline constexpr int kExitCannotRun = 2;  // bad arguments, settings or databases; a missing target
inline constexpr int kExitStopped = 130;  // Ctrl-C, as a shell reports a SIGINT

}  // namespace quarn
