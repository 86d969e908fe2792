#pragma once

#include <cstdint>
#include <string>

#include "platform/status.h"
#include "platform/unique_descriptor.h"

namespace quarn {

enum class ConfinedKind { kFile, kFolder };

// A file or folder opened for reading on a client's behalf.
struct ConfinedEntry {
  UniqueDescriptor descriptor;  // read-only, close-on-exec, non-blocking
  ConfinedKind kind = ConfinedKind::kFile;
  uint64_t size = 0;  // a file's length in bytes; 0 for a folder
};

// Opens `absolute_path` for reading for a scan asked for by a client, with the calling
// thread's current file-system identity (see ThreadFileIdentity), so the kernel decides what
// the client may read. Refused: a symbolic link anywhere in the path, anything but a regular
// file or a folder (a FIFO or device is never opened for reading, so this never waits on
// one), and anything on a file system of kernel interfaces rather than data (proc, sysfs,
// devtmpfs, devpts, debugfs, tracefs, cgroup and the like). What is checked is the very
// object that is opened: nothing swapped in between is read.
//
// The failure's message is a short cause without a final period, to be sent as
// "PATH: CAUSE. ERROR": "Path must be absolute", "No such file or directory",
// "Access denied", "Symbolic link in path", "Not a regular file", "File system not scanned",
// or the system's text for a rarer error.
Result<ConfinedEntry> OpenConfined(const std::string& absolute_path);

// Whether the open `descriptor` lies on one of the file systems of kernel interfaces that
// OpenConfined refuses; true too when that cannot be told, so nothing unknown is read.
bool OnInterfaceFileSystem(int descriptor);

}  // namespace quarn
