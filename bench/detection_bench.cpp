// Time and file traffic of the whole detection stage (DetectFile, heuristics on) for one file
// of each kind, against the default database and against a synthetic one with 10,000
// records in every section a detector walks. Files live in a MemoryFileSystem so its call
// counts give the reads and seeks each file costs; nothing touches the disk while timing.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_files.h"
#include "bench/byte_counting_file.h"
#include "bench/synthetic_database.h"
#include "engine/database_loader.h"
#include "engine/file_verdict.h"
#include "platform/memory_file_system.h"
#include "platform/posix_folder.h"

namespace quarn::bench {
namespace {

constexpr uint16_t kSyntheticRecordsPerSection = 10000;
constexpr uint32_t kSyntheticSeed = 20260101;
constexpr char kBenchFolder[] = "/bench";

struct BenchDatabase {
  std::string name;
  DatabaseImage signatures;
  // A synthetic image is meant to match nothing: a match would end the walks early and the
  // figures would no longer describe a full pass over every record.
  bool must_match_nothing;
};

Result<DatabaseImage> LoadDefaultSignatures() {
  auto files = OpenPosixFileSystem();
  auto folder = files->OpenFolder(QUARN_DATA_DIR);
  if (!folder) return folder.status();
  auto image = LoadDatabaseFile(**folder, kSignatureFileName);
  if (!image) {
    return Status::Error(std::string(QUARN_DATA_DIR) + "/" + std::string(kSignatureFileName) +
                         ": " + (image.message().empty() ? "cannot be read" : image.message()));
  }
  return image;
}

std::string DescribeVerdict(const FileVerdict& verdict) {
  if (verdict.virus != 0) {
    return std::string(verdict.variant != 0 ? "variant of " : "virus ") +
           std::to_string(verdict.virus);
  }
  return verdict.suspicious != 0 ? "suspicious" : "clean";
}

void DetectOneFile(benchmark::State& state, const BenchDatabase& database, MemoryFileSystem& files,
                   const std::string& file_name) {
  auto folder = files.OpenFolder(kBenchFolder);
  if (!folder) {
    state.SkipWithError(folder.message().c_str());
    return;
  }
  auto opened = (*folder)->OpenFile(file_name, OpenMode::kRead);
  if (!opened) {
    state.SkipWithError(opened.message().c_str());
    return;
  }
  ByteCountingFile file(**opened);

  const FileVerdict verdict = DetectFile(database.signatures, file, /*heuristics_enabled=*/true);
  if (database.must_match_nothing && verdict.virus != 0) {
    const std::string error = "a synthetic record matched: " + DescribeVerdict(verdict);
    state.SkipWithError(error.c_str());
    return;
  }

  const int reads_before = files.CallCount(FileOperation::kRead);
  const int seeks_before = files.CallCount(FileOperation::kSeek);
  file.ResetCount();
  for (auto _ : state) {
    FileVerdict timed = DetectFile(database.signatures, file, /*heuristics_enabled=*/true);
    benchmark::DoNotOptimize(timed);
  }
  using benchmark::Counter;
  state.counters["reads_per_file"] =
      Counter(files.CallCount(FileOperation::kRead) - reads_before, Counter::kAvgIterations);
  state.counters["seeks_per_file"] =
      Counter(files.CallCount(FileOperation::kSeek) - seeks_before, Counter::kAvgIterations);
  state.counters["bytes_read_per_file"] =
      Counter(static_cast<double>(file.bytes_read()), Counter::kAvgIterations);
  state.SetLabel(DescribeVerdict(verdict));
}

}  // namespace
}  // namespace quarn::bench

int main(int argc, char** argv) {
  using namespace quarn;
  using namespace quarn::bench;

  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  auto default_signatures = LoadDefaultSignatures();
  if (!default_signatures) {
    std::fprintf(stderr, "detection_bench: %s\n", default_signatures.message().c_str());
    return 1;
  }
  auto synthetic_signatures = BuildSyntheticSignatures(kSyntheticRecordsPerSection, kSyntheticSeed);
  if (!synthetic_signatures) {
    std::fprintf(stderr, "detection_bench: synthetic database: %s\n",
                 synthetic_signatures.message().c_str());
    return 1;
  }
  // Kept alive until the benchmarks have run: the registered lambdas refer to them.
  const std::vector<BenchDatabase> databases = {
      {"default", std::move(*default_signatures), false},
      {"synthetic_10k", std::move(*synthetic_signatures), true},
  };

  MemoryFileSystem files;
  const std::vector<BenchFile> bench_files = MakeBenchFiles();
  for (const BenchFile& bench_file : bench_files) {
    Status added =
        files.AddFile(std::string(kBenchFolder) + "/" + bench_file.name, bench_file.bytes);
    if (!added) {
      std::fprintf(stderr, "detection_bench: %s\n", added.message().c_str());
      return 1;
    }
  }

  for (const BenchDatabase& database : databases) {
    for (const BenchFile& bench_file : bench_files) {
      const std::string name = "DetectFile/" + database.name + "/" + bench_file.name;
      const std::string file_name = bench_file.name;
      benchmark::RegisterBenchmark(name.c_str(), [&database, &files,
                                                  file_name](benchmark::State& state) {
        DetectOneFile(state, database, files, file_name);
      })->Unit(benchmark::kMicrosecond);
    }
  }

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
