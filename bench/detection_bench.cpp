// Time and file traffic of the whole detection stage (DetectFile, heuristics on) for one file
// of each kind, against the default database and against synthetic ones with 100, 1,000,
// 10,000 and 65,535 (the most a section's count can say) records in every section a detector
// walks, each walked record by record ("linear") and through the signature index
// ("indexed"). DetectFileWindowed wraps each file in the read window the scan uses, so its
// reads_per_file are the reads the scan makes. Also: loading a database of 10,000 records a
// section with and without building its index, and the memory scan of a 10,000-record memory
// section over memory that holds nothing, told so by the platform and read window by window.
// The database's load with its index is timed at 65,535 records a section too. A grown
// database's mix (mixed_K: K records over the sections in the shares of
// BuildMixedSignatures) at K = 100 and 10,000, whose cost per file should hold.
// Then the sections one group at a time, the others holding 100 records: the keyed sections
// (whose first test compares bytes already read) scaled together from 100 to 65,535 records,
// and every section but the Word macro section, whose cost per file should not grow much;
// and each call and pattern section scaled alone, for its curve.
// Files live in a MemoryFileSystem so its call counts give the reads and seeks each file
// costs; nothing touches the disk while timing.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "bench/bench_files.h"
#include "bench/byte_counting_file.h"
#include "bench/synthetic_database.h"
#include "engine/database_builder.h"
#include "engine/database_loader.h"
#include "engine/file_verdict.h"
#include "engine/section_directory.h"
#include "engine/signature_index.h"
#include "platform/image_system_access.h"
#include "platform/test_support/memory_file_system.h"
#include "platform/posix_folder.h"
#include "platform/read_cache_file.h"
#include "sysarea/memory_scan.h"
#include "platform/test_support/in_memory_system_access.h"

namespace quarn::bench {
namespace {

// 65,535 stands in for 100,000: a section's record count is 16 bits.
constexpr uint16_t kSyntheticRecordCounts[] = {100, 250, 500, 1000, 10000, 65535};
constexpr uint16_t kLoadRecordsPerSection = 10000;
constexpr uint16_t kLoadRecordCounts[] = {kLoadRecordsPerSection, 65535};
constexpr uint32_t kMixedRecordCounts[] = {100, 10000};
// What the sections not being scaled hold when one group of sections is.
constexpr uint16_t kOtherRecords = 100;
// The sections scaled one at a time, apart from the keyed ones: their curves are reported
// rather than held flat, since every record of theirs reads the file or is searched for.
constexpr ScaledSections kUnkeyedSections[] = {
    {SectionGroup::kCall, kExeCallSection},
    {SectionGroup::kPattern, kExePatternSection},
    {SectionGroup::kCall, kComCallSection},
    {SectionGroup::kPattern, kComPatternSection},
};
constexpr uint32_t kSyntheticSeed = 20260101;
constexpr char kBenchFolder[] = "/bench";
constexpr char kDatabaseFolder[] = "/database";

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
                   const std::string& file_name, bool windowed) {
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
  auto detect = [&]() {
    if (!windowed) return DetectFile(database.signatures, file, /*heuristics_enabled=*/true);
    ReadCacheFile window(file);  // one per file, as the scan makes it
    return DetectFile(database.signatures, window, /*heuristics_enabled=*/true);
  };

  const FileVerdict verdict = detect();
  if (database.must_match_nothing && verdict.virus != 0) {
    const std::string error = "a synthetic record matched: " + DescribeVerdict(verdict);
    state.SkipWithError(error.c_str());
    return;
  }

  const int reads_before = files.CallCount(FileOperation::kRead);
  const int seeks_before = files.CallCount(FileOperation::kSeek);
  file.ResetCount();
  for (auto _ : state) {
    FileVerdict timed = detect();
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

// Reads QUARN.DAT from memory as start-up reads it from disk, with or without the index.
void LoadDatabase(benchmark::State& state, MemoryFileSystem& files, uint16_t records_per_section,
                  bool build_index) {
  auto folder =
      files.OpenFolder(std::string(kDatabaseFolder) + "/" + std::to_string(records_per_section));
  if (!folder) {
    state.SkipWithError(folder.message().c_str());
    return;
  }
  for (auto _ : state) {
    auto image = LoadDatabaseFile(**folder, kSignatureFileName);
    if (!image) {
      state.SkipWithError("the database does not load");
      return;
    }
    if (build_index) IndexSignatures(*image);
    benchmark::DoNotOptimize(image->index());
  }
}

void ScanZeroMemory(benchmark::State& state, const DatabaseImage& signatures,
                    SystemAccess& memory) {
  int steps = 0;
  const MemoryScanOutput output{[](ResultLine) {}, [&steps](int) { ++steps; }};
  for (auto _ : state) {
    MemoryNameBuffer name{};
    const MemoryScanResult result =
        ScanMemory(signatures, memory, Language::kEnglish, name, output);
    if (result.virus_id != 0) {
      state.SkipWithError("a synthetic memory record matched zeros");
      return;
    }
  }
  state.counters["progress_steps"] = benchmark::Counter(steps, benchmark::Counter::kAvgIterations);
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
  // Kept alive until the benchmarks have run: the registered lambdas refer to them. Reserved,
  // so that no element moves once a lambda holds it.
  std::vector<BenchDatabase> databases;
  databases.reserve(1 + (2 + 2 + std::size(kUnkeyedSections)) * std::size(kSyntheticRecordCounts) +
                    std::size(kMixedRecordCounts));
  IndexSignatures(*default_signatures);  // as start-up loads it
  databases.push_back({"default", std::move(*default_signatures), false});
  const BenchDatabase* memory_database = nullptr;
  std::vector<std::pair<uint16_t, DatabaseImage>> load_images;
  for (uint16_t count : kSyntheticRecordCounts) {
    auto synthetic = BuildSyntheticSignatures(count, kSyntheticSeed);
    if (!synthetic) {
      std::fprintf(stderr, "detection_bench: synthetic database: %s\n",
                   synthetic.message().c_str());
      return 1;
    }
    if (std::find(std::begin(kLoadRecordCounts), std::end(kLoadRecordCounts), count) !=
        std::end(kLoadRecordCounts)) {
      load_images.emplace_back(count, *synthetic);
    }
    const std::string name = "synthetic_" + std::to_string(count);
    DatabaseImage indexed(synthetic->bytes());
    IndexSignatures(indexed);
    databases.push_back({name + "/linear", std::move(*synthetic), true});
    databases.push_back({name + "/indexed", std::move(indexed), true});
    if (count == kLoadRecordsPerSection) memory_database = &databases.back();
  }
  for (uint32_t count : kMixedRecordCounts) {
    auto mixed = BuildMixedSignatures(count, kSyntheticSeed);
    if (!mixed) {
      std::fprintf(stderr, "detection_bench: mixed database: %s\n", mixed.message().c_str());
      return 1;
    }
    IndexSignatures(*mixed);
    databases.push_back({"mixed_" + std::to_string(count) + "/indexed", std::move(*mixed), true});
  }
  // One group scaled while the rest hold kOtherRecords: the keyed sections together (the
  // cost per file should stay flat), then each other section alone (its curve).
  std::vector<std::pair<std::string, ScaledSections>> groups = {
      {"keyed_sections", {SectionGroup::kKeyed}},
      // The Word macro section may grow with its records; every other holds its cost.
      {"all_but_macro", {SectionGroup::kEvery, -1, kMacroSection}}};
  for (const ScaledSections& section : kUnkeyedSections) {
    groups.push_back({"section_" + std::to_string(section.section), section});
  }
  for (const auto& [group_name, scaled] : groups) {
    for (uint16_t count : kSyntheticRecordCounts) {
      auto synthetic = BuildSyntheticSignatures(count, kSyntheticSeed, scaled, kOtherRecords);
      if (!synthetic) {
        std::fprintf(stderr, "detection_bench: synthetic database: %s\n",
                     synthetic.message().c_str());
        return 1;
      }
      IndexSignatures(*synthetic);
      databases.push_back(
          {group_name + "_" + std::to_string(count) + "/indexed", std::move(*synthetic), true});
    }
  }

  // One folder per record count, each with its QUARN.DAT.
  MemoryFileSystem database_files;
  for (const auto& [count, image] : load_images) {
    Status written =
        database_files.AddFile(std::string(kDatabaseFolder) + "/" + std::to_string(count) + "/" +
                                   std::string(kSignatureFileName),
                               EncodeDatabaseFile(image.bytes()));
    if (!written) {
      std::fprintf(stderr, "detection_bench: %s\n", written.message().c_str());
      return 1;
    }
  }
  ImageSystemAccess no_memory_image({}, std::nullopt);
  InMemorySystemAccess untold_zero_memory;  // cannot tell: every window is copied and searched

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
    for (bool windowed : {false, true}) {
      if (windowed && database.name != "default" && database.name != "synthetic_10000/indexed") {
        continue;
      }
      for (const BenchFile& bench_file : bench_files) {
        const std::string name = std::string(windowed ? "DetectFileWindowed/" : "DetectFile/") +
                                 database.name + "/" + bench_file.name;
        const std::string file_name = bench_file.name;
        benchmark::RegisterBenchmark(name.c_str(), [&database, &files, file_name,
                                                    windowed](benchmark::State& state) {
          DetectOneFile(state, database, files, file_name, windowed);
        })->Unit(benchmark::kMicrosecond);
      }
    }
  }
  for (uint16_t count : kLoadRecordCounts) {
    for (bool build_index : {false, true}) {
      const std::string name = "DatabaseLoad/synthetic_" + std::to_string(count) +
                               (build_index ? "/with_index" : "/image_only");
      benchmark::RegisterBenchmark(name.c_str(), [&database_files, count,
                                                  build_index](benchmark::State& state) {
        LoadDatabase(state, database_files, count, build_index);
      })->Unit(benchmark::kMillisecond);
    }
  }
  const DatabaseImage& memory_signatures = memory_database->signatures;
  benchmark::RegisterBenchmark(
      "MemoryScan/synthetic_10000/zero_memory_told",
      [&](benchmark::State& state) { ScanZeroMemory(state, memory_signatures, no_memory_image); })
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("MemoryScan/synthetic_10000/zero_memory_read",
                               [&](benchmark::State& state) {
                                 ScanZeroMemory(state, memory_signatures, untold_zero_memory);
                               })
      ->Unit(benchmark::kMillisecond)
      ->Iterations(1);

  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
