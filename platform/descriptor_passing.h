#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/status.h"
#include "platform/unique_descriptor.h"

namespace quarn {

// What one receive on a Unix stream socket delivered.
struct ReceivedBytes {
  size_t length = 0;  // bytes placed in the buffer
  // Every descriptor that came with them, close-on-exec, in the order sent; whoever drops
  // the result closes any it did not take.
  std::vector<UniqueDescriptor> descriptors;
  // The sender attached more descriptors than fit: what did arrive has been closed, and
  // descriptors is empty. The bytes are still good.
  bool control_truncated = false;
  // Nothing is waiting on the non-blocking socket yet: length is 0 but the peer is there.
  bool would_block = false;
};

// The most descriptors one receive takes without truncating: a client that sends a few
// extras with its one is not refused for that alone.
inline constexpr size_t kMaxReceivedDescriptors = 16;

// One recvmsg of at most `capacity` bytes into `buffer` from the connected Unix stream
// socket `socket_descriptor`, never waiting, taking any descriptors sent with the bytes
// (SCM_RIGHTS, close-on-exec from the start). length 0 without would_block: the peer
// closed. A signal during the call is retried. The failure names the cause.
Result<ReceivedBytes> ReceiveWithDescriptors(int socket_descriptor, void* buffer, size_t capacity);

// Sends all of `bytes` (at least one: a descriptor rides on data) with `descriptors` (the
// kernel takes up to 253) attached to the first of them, waiting as the socket's own mode
// says. A peer that is gone is a failure, never SIGPIPE.
Status SendWithDescriptors(int socket_descriptor, const void* bytes, size_t length,
                           const std::vector<int>& descriptors);

// The same with one descriptor, as a client of FILDES sends it.
Status SendWithDescriptor(int socket_descriptor, const void* bytes, size_t length, int descriptor);

// The whole of the regular file behind a passed `descriptor` when it holds at most `max_bytes`
// and every one of them is in memory already: read from offset 0 with one call that never
// waits for a device or a file system's server (RWF_NOWAIT), so a thread that serves many
// clients may take it without any of them being able to hold it. Nothing when it is no
// regular file, is longer, is open for direct reads, or a byte would have to be waited for
// (not cached, or a file system that cannot tell); the descriptor's position never moves.
std::optional<std::vector<uint8_t>> ReadCachedWholeFile(int descriptor, uint64_t max_bytes);

}  // namespace quarn
