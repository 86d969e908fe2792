// The floor a scan of a folder tree cannot go below: the same walk (names sorted, symbolic
// links not followed, regular files only) and, for every file, the open, three small reads
// and close that even a file the detectors dismiss at once costs. The scan-speed benchmark
// compares the scanner with this. POSIX is called directly on purpose: any layer in between
// would be part of what is measured.
//
//   raw_walk FOLDER
//
// Prints one line: files=N bytes=B errors=E seconds=S files_per_second=R
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The reads mirror the detection stage's first steps: the DOS header, the code at the entry
// it names (or a COM file's first jump leads to), and a block at the end of the file, where
// appending infectors leave their tail.
constexpr size_t kHeaderRead = 24;
constexpr size_t kEntryRead = 16;
constexpr size_t kTailRead = 256;
constexpr size_t kHeaderParagraphsField = 8;
constexpr size_t kInitialIpField = 20;
constexpr size_t kInitialCsField = 22;

struct WalkTotals {
  uint64_t files = 0;
  uint64_t bytes = 0;
  uint64_t errors = 0;
};

uint32_t U16At(const uint8_t* bytes, size_t offset) {
  return bytes[offset] | (uint32_t{bytes[offset + 1]} << 8);
}

// Where the entry code lies, from the first bytes read: CS:IP past the header for an "MZ"
// file, the target of a leading jump or call for anything else, else the start.
uint64_t EntryOffset(const uint8_t* header, ssize_t length) {
  if (length >= static_cast<ssize_t>(kHeaderRead) && header[0] == 'M' && header[1] == 'Z') {
    return uint64_t{U16At(header, kHeaderParagraphsField)} * 16 +
           uint64_t{U16At(header, kInitialCsField)} * 16 + U16At(header, kInitialIpField);
  }
  if (length >= 2 && header[0] == 0xEB) return header[1] + 2u;
  if (length >= 3 && (header[0] == 0xE9 || header[0] == 0xE8)) {
    return (U16At(header, 1) + 3u) % 0x10000u;
  }
  return 0;
}

void ReadFile(int folder, const char* name, const std::string& path, WalkTotals* totals) {
  const int descriptor = openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  if (descriptor < 0) {
    std::fprintf(stderr, "raw_walk: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
    ++totals->errors;
    return;
  }
  uint8_t header[kHeaderRead];
  uint8_t entry_code[kEntryRead];
  uint8_t tail[kTailRead];
  struct stat status;
  const ssize_t header_length = pread(descriptor, header, sizeof header, 0);
  const ssize_t entry_length =
      pread(descriptor, entry_code, sizeof entry_code,
            static_cast<off_t>(EntryOffset(header, std::max<ssize_t>(header_length, 0))));
  ssize_t tail_length = -1;
  if (fstat(descriptor, &status) == 0) {
    const off_t tail_at = std::max<off_t>(0, status.st_size - static_cast<off_t>(kTailRead));
    tail_length = pread(descriptor, tail, sizeof tail, tail_at);
  }
  close(descriptor);
  if (header_length < 0 || entry_length < 0 || tail_length < 0) {
    std::fprintf(stderr, "raw_walk: cannot read %s\n", path.c_str());
    ++totals->errors;
    return;
  }
  ++totals->files;
  totals->bytes += static_cast<uint64_t>(header_length + entry_length + tail_length);
}

// Walks the folder open as `folder` (which it closes), `path` naming it for messages.
void WalkFolder(int folder, const std::string& path, WalkTotals* totals) {
  DIR* listing = fdopendir(folder);
  if (listing == nullptr) {
    std::fprintf(stderr, "raw_walk: cannot list %s: %s\n", path.c_str(), std::strerror(errno));
    close(folder);
    ++totals->errors;
    return;
  }
  struct Entry {
    std::string name;
    unsigned char type;
  };
  std::vector<Entry> entries;
  while (const dirent* entry = readdir(listing)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    entries.push_back({entry->d_name, entry->d_type});
  }
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return a.name < b.name; });

  const int descriptor = dirfd(listing);
  for (Entry& entry : entries) {
    const std::string child = path + "/" + entry.name;
    if (entry.type == DT_UNKNOWN) {
      struct stat status;
      if (fstatat(descriptor, entry.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) continue;
      entry.type = S_ISREG(status.st_mode) ? DT_REG : S_ISDIR(status.st_mode) ? DT_DIR : DT_LNK;
    }
    if (entry.type == DT_REG) {
      ReadFile(descriptor, entry.name.c_str(), child, totals);
    } else if (entry.type == DT_DIR) {
      const int sub =
          openat(descriptor, entry.name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub < 0) {
        std::fprintf(stderr, "raw_walk: cannot open %s: %s\n", child.c_str(), std::strerror(errno));
        ++totals->errors;
        continue;
      }
      WalkFolder(sub, child, totals);
    }
  }
  closedir(listing);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 || argv[1][0] == '-') {
    std::fprintf(stderr, "usage: raw_walk FOLDER\n");
    return 2;
  }
  const std::string root = argv[1];
  const auto start = std::chrono::steady_clock::now();
  const int folder = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder < 0) {
    std::fprintf(stderr, "raw_walk: cannot open %s: %s\n", root.c_str(), std::strerror(errno));
    return 2;
  }
  WalkTotals totals;
  WalkFolder(folder, root, &totals);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("files=%llu bytes=%llu errors=%llu seconds=%.3f files_per_second=%.0f\n",
              static_cast<unsigned long long>(totals.files),
              static_cast<unsigned long long>(totals.bytes),
              static_cast<unsigned long long>(totals.errors), seconds,
              seconds > 0 ? static_cast<double>(totals.files) / seconds : 0.0);
  return totals.errors == 0 ? 0 : 1;
}
