#pragma once

#include <cstdint>
#include <functional>

#include "bench/scan_tree/tree_plan.h"
#include "platform/folder.h"
#include "platform/status.h"

namespace quarn::bench {

struct WriteOptions {
  // Delete a file that already has a planned name before writing it; without this a name
  // taken fails the write.
  bool replace_existing = false;
  // Called after each file is complete, with the number written so far.
  std::function<void(uint64_t written)> on_file;
};

// Writes every folder and file of `plan` under `root`, in plan order, holding only the open
// folders of the current path. Stops at the first failure and returns it, naming the file;
// what was written by then stays.
Status WriteTree(const TreePlan& plan, Folder& root, const WriteOptions& options);

}  // namespace quarn::bench
