#include "bench/scan_tree/tree_writer.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "bench/scan_tree/tree_files.h"

namespace quarn::bench {
namespace {

constexpr size_t kLargeChunkSize = 1024 * 1024;

Status WriteFailure(const Folder& folder, const std::string& name) {
  return Status::Error("cannot write " + folder.Path() + "/" + name);
}

Status WriteFile(Folder& folder, const PlannedFile& planned, bool replace_existing) {
  // A name that is not there makes Delete fail; CreateFile then reports any real problem.
  if (replace_existing) (void)folder.Delete(planned.name);
  auto created = folder.CreateFile(planned.name);
  if (!created) return created.status();
  File& file = **created;

  if (!IsLarge(planned.kind)) {
    const std::vector<uint8_t> bytes = BuildFileBytes(planned);
    const auto length = static_cast<uint32_t>(bytes.size());
    if (file.Write(bytes.data(), length) != length) return WriteFailure(folder, planned.name);
    return Status::Ok();
  }
  std::vector<uint8_t> chunk(kLargeChunkSize);
  for (uint64_t offset = 0; offset < planned.size; offset += chunk.size()) {
    const auto length =
        static_cast<uint32_t>(std::min<uint64_t>(chunk.size(), planned.size - offset));
    FillLargeChunk(planned, offset, std::span<uint8_t>(chunk.data(), length));
    if (file.Write(chunk.data(), length) != length) return WriteFailure(folder, planned.name);
  }
  return Status::Ok();
}

}  // namespace

Status WriteTree(const TreePlan& plan, Folder& root, const WriteOptions& options) {
  // open_path[d] is the open folder at depth d + 1 on the way to the current folder.
  std::vector<std::unique_ptr<Folder>> open_path;
  auto folder_at_depth = [&](int depth) -> Folder& {
    return depth == 0 ? root : *open_path[static_cast<size_t>(depth - 1)];
  };

  size_t current = 0;
  uint64_t written = 0;
  for (const PlannedFile& planned : plan.files) {
    // Folders come parents first and files grouped by folder, so a change of folder only
    // ever enters a new one whose parent is on the open path.
    if (planned.folder != current) {
      current = planned.folder;
      const PlannedFolder& next = plan.folders[current];
      open_path.resize(static_cast<size_t>(next.depth - 1));
      Folder& parent = folder_at_depth(next.depth - 1);
      if (Status made = parent.CreateFolder(next.name); !made) return made;
      auto opened = parent.OpenFolder(next.name);
      if (!opened) return opened.status();
      open_path.push_back(std::move(*opened));
    }
    if (Status done = WriteFile(folder_at_depth(plan.folders[current].depth), planned,
                                options.replace_existing);
        !done) {
      return done;
    }
    ++written;
    if (options.on_file) options.on_file(written);
  }
  return Status::Ok();
}

}  // namespace quarn::bench
