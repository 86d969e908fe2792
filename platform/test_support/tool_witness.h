#pragma once

// Running the witness tools (mtools, mkfs.fat, fsck.fat, sfdisk, gsf…) from a test, in a folder of
// its own. The tools belong to the tests' setup: without them a test fails, it does not skip.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <unordered_set>
#include <vector>

namespace quarn::testing {

inline constexpr const char* kToolEnvironment =
    "export PATH=/usr/sbin:/sbin:$PATH LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1 MTOOLSRC=mtoolsrc; ";

struct ToolRun {
  int status = -1;
  std::string output;
};

inline ToolRun RunIn(const std::string& folder, const std::string& script) {
  const std::string command = "cd '" + folder + "' && { " + kToolEnvironment + script + "; } 2>&1";
  ToolRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, got);
  run.status = pclose(pipe);
  return run;
}

inline std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// A temporary folder under $QUARN_TEST_TMP (else the system's), removed with its contents.
class WitnessFolder {
 public:
  WitnessFolder() {
    const char* base = std::getenv("QUARN_TEST_TMP");
    std::filesystem::path root = base != nullptr ? base : std::filesystem::temp_directory_path();
    std::filesystem::create_directories(root);
    std::string pattern = (root / "witness-XXXXXX").string();
    path_ = mkdtemp(pattern.data()) != nullptr ? pattern : "";
  }
  ~WitnessFolder() {
    if (!path_.empty()) std::filesystem::remove_all(path_);
  }
  WitnessFolder(const WitnessFolder&) = delete;
  WitnessFolder& operator=(const WitnessFolder&) = delete;

  const std::string& path() const { return path_; }
  void Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::ofstream out(path_ + "/" + name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  std::vector<uint8_t> Read(const std::string& name) const {
    std::ifstream in(path_ + "/" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::string path_;
};

// The file `made` that `command` writes in a witness folder holding `files` (their paths with
// "/" between folders, which are made): an archive or a packed file made by the real tool.
inline std::vector<uint8_t> MadeByTool(const std::map<std::string, std::vector<uint8_t>>& files,
                                       const std::string& command, const std::string& made) {
  WitnessFolder folder;
  for (const auto& [path, bytes] : files) {
    const std::filesystem::path at = std::filesystem::path(folder.path()) / path;
    std::filesystem::create_directories(at.parent_path());
    folder.Write(path, bytes);
  }
  const ToolRun run = RunIn(folder.path(), command);
  EXPECT_EQ(run.status, 0) << command << "\n" << run.output;
  return folder.Read(made);
}

// 16-byte pieces of `bytes` at its offsets that are multiples of 16, from `from` (rounded up)
// on. A file's clusters start on sector boundaries, so its pieces lie at 16-byte offsets of
// the image too: finding none of them there shows that the file's bytes are gone.
inline std::unordered_set<std::string> AlignedPieces(const std::vector<uint8_t>& bytes,
                                                     size_t from = 0) {
  std::unordered_set<std::string> pieces;
  for (size_t at = (from + 15) / 16 * 16; at + 16 <= bytes.size(); at += 16) {
    pieces.emplace(bytes.begin() + static_cast<ptrdiff_t>(at),
                   bytes.begin() + static_cast<ptrdiff_t>(at + 16));
  }
  return pieces;
}

// How many 16-byte offsets of `image` hold one of `pieces`.
inline size_t PiecesFound(const std::vector<uint8_t>& image,
                          const std::unordered_set<std::string>& pieces) {
  size_t found = 0;
  for (size_t at = 0; at + 16 <= image.size(); at += 16) {
    found += pieces.count(std::string(image.begin() + static_cast<ptrdiff_t>(at),
                                      image.begin() + static_cast<ptrdiff_t>(at + 16)));
  }
  return found;
}

}  // namespace quarn::testing
