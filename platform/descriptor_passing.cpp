#include "platform/descriptor_passing.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/path_names.h"

namespace quarn {
namespace {

Status Failure(const char* action, int error) {
  return Status::Error(std::string(action) + ": " + ErrnoText(error));
}

// Takes ownership of every descriptor in the control messages, so that none leaks whatever
// the caller does next.
std::vector<UniqueDescriptor> TakeDescriptors(msghdr& message) {
  std::vector<UniqueDescriptor> descriptors;
  for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
       header = CMSG_NXTHDR(&message, header)) {
    if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) continue;
    const size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
    const unsigned char* data = CMSG_DATA(header);
    for (size_t i = 0; i < count; ++i) {
      int descriptor;
      std::memcpy(&descriptor, data + i * sizeof(int), sizeof(int));
      descriptors.emplace_back(descriptor);
    }
  }
  return descriptors;
}

}  // namespace

Result<ReceivedBytes> ReceiveWithDescriptors(int socket_descriptor, void* buffer, size_t capacity) {
  alignas(cmsghdr) unsigned char control[CMSG_SPACE(kMaxReceivedDescriptors * sizeof(int))];
  iovec span{buffer, capacity};
  msghdr message{};
  message.msg_iov = &span;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof(control);
  ssize_t received;
  do {
    received = recvmsg(socket_descriptor, &message, MSG_CMSG_CLOEXEC | MSG_DONTWAIT);
  } while (received < 0 && errno == EINTR);
  ReceivedBytes result;
  if (received < 0) {
    if (errno != EAGAIN && errno != EWOULDBLOCK) return Failure("receive", errno);
    result.would_block = true;
    return result;
  }
  result.length = static_cast<size_t>(received);
  result.descriptors = TakeDescriptors(message);
  if ((message.msg_flags & MSG_CTRUNC) != 0) {
    result.control_truncated = true;
    result.descriptors.clear();
  }
  return result;
}

Status SendWithDescriptors(int socket_descriptor, const void* bytes, size_t length,
                           const std::vector<int>& descriptors) {
  if (length == 0) return Status::Error("send: a descriptor needs at least one byte to ride on");
  // Heap memory is aligned for any header.
  std::vector<unsigned char> control(CMSG_SPACE(descriptors.size() * sizeof(int)));
  const auto* next = static_cast<const unsigned char*>(bytes);
  size_t left = length;
  bool attach = !descriptors.empty();
  while (left > 0) {
    iovec span{const_cast<unsigned char*>(next), left};
    msghdr message{};
    message.msg_iov = &span;
    message.msg_iovlen = 1;
    if (attach) {
      message.msg_control = control.data();
      message.msg_controllen = control.size();
      cmsghdr* header = CMSG_FIRSTHDR(&message);
      header->cmsg_level = SOL_SOCKET;
      header->cmsg_type = SCM_RIGHTS;
      header->cmsg_len = CMSG_LEN(descriptors.size() * sizeof(int));
      std::memcpy(CMSG_DATA(header), descriptors.data(), descriptors.size() * sizeof(int));
    }
    const ssize_t sent = sendmsg(socket_descriptor, &message, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return Failure("send", errno);
    }
    // The descriptors went with the first byte that was accepted.
    attach = false;
    next += sent;
    left -= static_cast<size_t>(sent);
  }
  return Status::Ok();
}

Status SendWithDescriptor(int socket_descriptor, const void* bytes, size_t length, int descriptor) {
  return SendWithDescriptors(socket_descriptor, bytes, length, {descriptor});
}

std::optional<std::vector<uint8_t>> ReadCachedWholeFile(int descriptor, uint64_t max_bytes) {
  struct stat facts {};
  if (fstat(descriptor, &facts) != 0 || !S_ISREG(facts.st_mode) || facts.st_size < 0 ||
      static_cast<uint64_t>(facts.st_size) > max_bytes) {
    return std::nullopt;
  }
  // A direct read goes to the device whatever is cached, and waits for it.
  const int flags = fcntl(descriptor, F_GETFL);
  if (flags < 0 || (flags & O_DIRECT) != 0) return std::nullopt;
  const auto size = static_cast<size_t>(facts.st_size);
  // One byte more than the size tells a file that grew since from one read whole.
  std::vector<uint8_t> bytes(size + 1);
  iovec span{bytes.data(), bytes.size()};
  const ssize_t got = preadv2(descriptor, &span, 1, 0, RWF_NOWAIT);
  if (got < 0 || static_cast<size_t>(got) != size) return std::nullopt;
  bytes.resize(size);
  return bytes;
}

}  // namespace quarn
