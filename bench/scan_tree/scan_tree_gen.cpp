// Writes the tree the scan-speed benchmark walks: tens of thousands of small benign files of
// the kinds a scan meets (DOS and PE programs, COM programs, device drivers, Word documents,
// text and data) over nested folders, and a few large files. The same options give the same
// tree, byte for byte.
//
//   scan_tree_gen [--files N] [--large N] [--seed N] [--force] FOLDER
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>
#include <string>
#include <string_view>

#include "bench/scan_tree/tree_plan.h"
#include "bench/scan_tree/tree_writer.h"
#include "platform/posix_folder.h"

namespace quarn::bench {
namespace {

constexpr uint64_t kProgressEvery = 1000;
constexpr int kUsageError = 2;

constexpr uint64_t kMaxLargeFiles = 1000;

void PrintUsage(FILE* stream) {
  std::fprintf(stream,
               "usage: scan_tree_gen [--files N] [--large N] [--seed N] [--force] FOLDER\n"
               "  --files N   files in the tree, the large ones included (default %llu)\n"
               "  --large N   how many of them are large, 20 to 40 MiB each (default %u)\n"
               "  --seed N    another tree of the same shape (default %llu)\n"
               "  --force     write into FOLDER even when it is not empty\n",
               static_cast<unsigned long long>(kDefaultFileCount), kDefaultLargeFileCount,
               static_cast<unsigned long long>(kDefaultTreeSeed));
}

enum class Parsed { kRun, kHelp, kMistake };

struct Arguments {
  TreeOptions tree;
  bool force = false;
  std::string target;
};

bool ParseNumber(std::string_view text, uint64_t* value) {
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// Fills `arguments`; on a mistake prints why.
Parsed ParseArguments(int argc, char** argv, Arguments* arguments) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    auto number = [&](uint64_t* value) {
      if (i + 1 >= argc || !ParseNumber(argv[i + 1], value)) {
        std::fprintf(stderr, "scan_tree_gen: %s needs a whole number\n", argv[i]);
        return false;
      }
      ++i;
      return true;
    };
    uint64_t large = 0;
    if (argument == "--files") {
      if (!number(&arguments->tree.file_count)) return Parsed::kMistake;
    } else if (argument == "--large") {
      if (!number(&large)) return Parsed::kMistake;
      arguments->tree.large_file_count =
          static_cast<uint32_t>(std::min<uint64_t>(large, kMaxLargeFiles));
    } else if (argument == "--seed") {
      if (!number(&arguments->tree.seed)) return Parsed::kMistake;
    } else if (argument == "--force") {
      arguments->force = true;
    } else if (argument == "--help" || argument == "-h") {
      return Parsed::kHelp;
    } else if (argument.starts_with("-") || !arguments->target.empty()) {
      std::fprintf(stderr, "scan_tree_gen: unexpected argument '%s'\n", argv[i]);
      PrintUsage(stderr);
      return Parsed::kMistake;
    } else {
      arguments->target = argument;
    }
  }
  if (arguments->target.empty()) {
    std::fprintf(stderr, "scan_tree_gen: no target folder\n");
    PrintUsage(stderr);
    return Parsed::kMistake;
  }
  return Parsed::kRun;
}

void PrintSummary(const TreePlan& plan) {
  std::map<FileKind, std::pair<uint64_t, uint64_t>> by_kind;  // count, bytes
  for (const PlannedFile& file : plan.files) {
    by_kind[file.kind].first += 1;
    by_kind[file.kind].second += file.size;
  }
  std::fprintf(stderr, "scan_tree_gen: %zu files in %zu folders\n", plan.files.size(),
               plan.folders.size());
  for (const auto& [kind, totals] : by_kind) {
    std::fprintf(stderr, "  %-18s %7llu files  about %7.1f MiB\n", KindLabel(kind),
                 static_cast<unsigned long long>(totals.first),
                 static_cast<double>(totals.second) / (1024.0 * 1024.0));
  }
}

int Run(const Arguments& arguments) {
  auto files = OpenPosixFileSystem();
  if (Status made = files->CreateFolders(arguments.target); !made) {
    std::fprintf(stderr, "scan_tree_gen: %s\n", made.message().c_str());
    return 1;
  }
  auto root = files->OpenFolder(arguments.target);
  if (!root) {
    std::fprintf(stderr, "scan_tree_gen: %s\n", root.message().c_str());
    return 1;
  }
  auto listed = (*root)->List();
  if (!listed) {
    std::fprintf(stderr, "scan_tree_gen: %s\n", listed.message().c_str());
    return 1;
  }
  // A benchmark tree mixed with other files would time something else; and a folder given
  // by mistake should not fill up with twenty thousand files.
  if (!listed->empty() && !arguments.force) {
    std::fprintf(stderr, "scan_tree_gen: %s is not empty (--force writes into it anyway)\n",
                 arguments.target.c_str());
    return 1;
  }

  const TreePlan plan = PlanTree(arguments.tree);
  const uint64_t total = plan.files.size();
  WriteOptions options;
  options.replace_existing = arguments.force;
  options.on_file = [total](uint64_t written) {
    if (written % kProgressEvery == 0 || written == total) {
      std::fprintf(stderr, "scan_tree_gen: %llu of %llu files\n",
                   static_cast<unsigned long long>(written),
                   static_cast<unsigned long long>(total));
    }
  };
  if (Status written = WriteTree(plan, **root, options); !written) {
    std::fprintf(stderr, "scan_tree_gen: %s\n", written.message().c_str());
    return 1;
  }
  PrintSummary(plan);
  return 0;
}

}  // namespace
}  // namespace quarn::bench

int main(int argc, char** argv) {
  using namespace quarn::bench;
  Arguments arguments;
  switch (ParseArguments(argc, argv, &arguments)) {
    case Parsed::kHelp:
      PrintUsage(stdout);
      return 0;
    case Parsed::kMistake:
      return kUsageError;
    case Parsed::kRun:
      break;
  }
  return Run(arguments);
}
