// A daemon client for the stream benchmark: sends every regular file of a folder tree by
// INSTREAM to a ClamAV-protocol daemon's Unix socket over several connections at once, as a
// mail or archive server hands its files over, and counts the replies. It speaks the bytes
// directly over POSIX sockets: any layer in between would be part of what is measured.
//
//   quarnd_stream_client SOCKET FOLDER [--connections N] [--session] [--ahead N]
//
// N clients (default 2) take files from one shared list. Each file is one connection with
// one request, as clamdscan --stream and most clients do; with --session each client keeps
// one IDSESSION open and sends its files one after another on it, and with --ahead N (a
// session too) up to N requests go out before their replies are read.
//
// Prints one line: files=N seconds=S files_per_second=R found=F ok=O error=E
// Exit status: 0 every file answered, 1 a connection or reply failed, 2 bad arguments.
#include <limits.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "platform/local_socket.h"

namespace {

using namespace std::string_literals;

// Chunks as large as clamdscan sends.
constexpr size_t kChunkSize = 64 * 1024;
const std::string kInstream("zINSTREAM\0", 10);

struct Tally {
  std::atomic<size_t> found{0};
  std::atomic<size_t> ok{0};
  std::atomic<size_t> error{0};
  std::atomic<size_t> failed{0};
};

bool SendAll(int descriptor, const char* bytes, size_t length) {
  while (length > 0) {
    const ssize_t sent = send(descriptor, bytes, length, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    bytes += sent;
    length -= static_cast<size_t>(sent);
  }
  return true;
}

// The command and the file's bytes as INSTREAM chunks, the closing zero length included, in
// as few system calls as the socket takes them (one for a small file), as a careful client
// writes them.
bool SendStream(int descriptor, const std::string& command, const std::string& data) {
  static const char kEnd[4] = {0, 0, 0, 0};
  std::vector<std::array<unsigned char, 4>> headers((data.size() + kChunkSize - 1) / kChunkSize);
  std::vector<iovec> pieces;
  pieces.push_back({const_cast<char*>(command.data()), command.size()});
  for (size_t at = 0, chunk = 0; at < data.size(); at += kChunkSize, ++chunk) {
    const size_t length = std::min(kChunkSize, data.size() - at);
    headers[chunk] = {static_cast<unsigned char>(length >> 24),
                      static_cast<unsigned char>(length >> 16),
                      static_cast<unsigned char>(length >> 8), static_cast<unsigned char>(length)};
    pieces.push_back({headers[chunk].data(), 4});
    pieces.push_back({const_cast<char*>(data.data() + at), length});
  }
  pieces.push_back({const_cast<char*>(kEnd), 4});
  size_t first = 0;
  while (first < pieces.size()) {
    msghdr message{};
    message.msg_iov = pieces.data() + first;
    message.msg_iovlen = std::min<size_t>(pieces.size() - first, IOV_MAX);
    ssize_t sent = sendmsg(descriptor, &message, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    // Past the pieces sent whole; a piece sent in part keeps its rest.
    while (first < pieces.size() && static_cast<size_t>(sent) >= pieces[first].iov_len) {
      sent -= static_cast<ssize_t>(pieces[first++].iov_len);
    }
    if (sent > 0) {
      pieces[first].iov_base = static_cast<char*>(pieces[first].iov_base) + sent;
      pieces[first].iov_len -= static_cast<size_t>(sent);
    }
  }
  return true;
}

// One NUL-terminated reply, or "" when the connection ended first. Only one request is ever
// outstanding, so nothing past the NUL can arrive with it.
std::string ReadReply(int descriptor) {
  std::string reply;
  char buffer[512];
  while (true) {
    const ssize_t got = recv(descriptor, buffer, sizeof buffer, 0);
    if (got <= 0) return "";
    reply.append(buffer, static_cast<size_t>(got));
    const size_t end = reply.find('\0');
    if (end != std::string::npos) return reply.substr(0, end);
  }
}

void Count(const std::string& reply, Tally& tally) {
  if (reply.ends_with(" FOUND")) {
    ++tally.found;
  } else if (reply.ends_with(": OK")) {
    ++tally.ok;
  } else if (reply.ends_with(" ERROR")) {
    ++tally.error;
  } else {
    ++tally.failed;
  }
}

// A file's bytes, read whole before the clock starts: the benchmark times the daemon, not
// this machine's disk or this client's reading.
std::string Contents(const std::string& path) {
  std::ifstream file(path, std::ios::binary | std::ios::ate);
  std::string bytes(static_cast<size_t>(std::max<std::streamoff>(0, file.tellg())), '\0');
  file.seekg(0);
  file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

void StreamEach(const std::string& socket_path, const std::vector<std::string>& files,
                std::atomic<size_t>& next, Tally& tally) {
  for (size_t index; (index = next++) < files.size();) {
    const std::string& data = files[index];
    const int descriptor = quarn::ConnectToLocalSocket(socket_path);
    if (descriptor < 0 || !SendStream(descriptor, kInstream, data)) {
      ++tally.failed;
    } else {
      Count(ReadReply(descriptor), tally);
    }
    if (descriptor >= 0) close(descriptor);
  }
}

// A session's replies as they come: NUL-terminated, several in one read when requests are
// sent ahead of them.
class ReplyReader {
 public:
  explicit ReplyReader(int descriptor) : descriptor_(descriptor) {}
  // The next reply, or "" when the connection ended first.
  std::string Next() {
    while (true) {
      const size_t end = pending_.find('\0');
      if (end != std::string::npos) {
        std::string reply = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return reply;
      }
      char buffer[4096];
      const ssize_t got = recv(descriptor_, buffer, sizeof buffer, 0);
      if (got <= 0) return "";
      pending_.append(buffer, static_cast<size_t>(got));
    }
  }

 private:
  int descriptor_;
  std::string pending_;
};

// One IDSESSION for all of this client's files, with up to `depth` requests sent ahead of
// their replies, as clamdscan's multiscan sessions do.
void StreamInSession(const std::string& socket_path, const std::vector<std::string>& files,
                     std::atomic<size_t>& next, Tally& tally, size_t depth) {
  const int descriptor = quarn::ConnectToLocalSocket(socket_path);
  if (descriptor < 0 || !SendAll(descriptor, "zIDSESSION\0", 11)) {
    ++tally.failed;
    if (descriptor >= 0) close(descriptor);
    return;
  }
  ReplyReader replies(descriptor);
  size_t outstanding = 0;
  for (size_t index; (index = next++) < files.size();) {
    if (!SendStream(descriptor, kInstream, files[index])) {
      ++tally.failed;
      break;
    }
    if (++outstanding == depth) {
      Count(replies.Next(), tally);
      --outstanding;
    }
  }
  for (; outstanding > 0; --outstanding) Count(replies.Next(), tally);
  SendAll(descriptor, "zEND\0", 5);
  close(descriptor);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  size_t connections = 2;
  bool session = false;
  size_t depth = 1;
  std::vector<std::string> positional;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i] == "--connections" && i + 1 < arguments.size()) {
      connections = std::strtoul(arguments[++i].c_str(), nullptr, 10);
    } else if (arguments[i] == "--session") {
      session = true;
    } else if (arguments[i] == "--ahead" && i + 1 < arguments.size()) {
      session = true;
      depth = std::strtoul(arguments[++i].c_str(), nullptr, 10);
    } else {
      positional.push_back(arguments[i]);
    }
  }
  if (positional.size() != 2 || connections == 0 || depth == 0) {
    std::fprintf(
        stderr,
        "usage: quarnd_stream_client SOCKET FOLDER [--connections N] [--session] [--ahead N]\n");
    return 2;
  }
  std::vector<std::string> files;
  std::error_code error;
  for (auto walk = std::filesystem::recursive_directory_iterator(positional[1], error);
       !error && walk != std::filesystem::recursive_directory_iterator(); walk.increment(error)) {
    if (walk->is_regular_file() && !walk->is_symlink()) files.push_back(walk->path().string());
  }
  if (error) {
    std::fprintf(stderr, "quarnd_stream_client: %s: %s\n", positional[1].c_str(),
                 error.message().c_str());
    return 1;
  }
  std::sort(files.begin(), files.end());
  for (std::string& file : files) file = Contents(file);

  Tally tally;
  std::atomic<size_t> next{0};
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> clients;
  for (size_t i = 0; i < connections; ++i) {
    clients.emplace_back([&] {
      if (session) {
        StreamInSession(positional[0], files, next, tally, depth);
      } else {
        StreamEach(positional[0], files, next, tally);
      }
    });
  }
  for (std::thread& client : clients) client.join();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("files=%zu seconds=%.3f files_per_second=%.0f found=%zu ok=%zu error=%zu\n",
              files.size(), seconds, seconds > 0 ? files.size() / seconds : 0.0, tally.found.load(),
              tally.ok.load(), tally.error.load());
  if (tally.failed > 0) {
    std::fprintf(stderr, "quarnd_stream_client: %zu files got no reply\n", tally.failed.load());
    return 1;
  }
  return 0;
}
