// The imported signatures' matcher at the size of a real database: compiling 10,000 and
// 100,000 generated body signatures (mixed as a grown database mixes them: mostly anywhere,
// some at absolute offsets, from the end, from a PE's entry point, a few in sections and a
// few for compound document streams), loading them back from the serialized bytes (goal:
// 100,000 in under a second), and scanning a 50 MiB file in MB/s. The file is noise behind
// a PE header, so that entry-point rules are judged too; nothing is meant to match it. Also
// the cost of one refused signature among 10,000.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "bench/imported_signature_generator.h"
#include "imported/pe_layout.h"
#include "imported/signature_matcher.h"
#include "platform/test_support/memory_file_system.h"
#include "engine/test_support/executable_builder.h"
#include "platform/test_support/pattern_bytes.h"

namespace quarn::bench {
namespace {

constexpr size_t kSignatureCounts[] = {10000, 100000};
constexpr size_t kScannedBytes = size_t{50} << 20;
constexpr uint32_t kSeed = 20260214;

struct Prepared {
  std::vector<BodySignature> signatures;
  std::unique_ptr<SignatureMatcher> matcher;
  std::vector<uint8_t> serialized;
  double compile_seconds = 0;
};

// Compiled once per count, on first use: compiling 100,000 patterns takes a while.
Prepared& PreparedFor(size_t count) {
  static std::map<size_t, Prepared> prepared;
  Prepared& entry = prepared[count];
  if (entry.matcher) return entry;
  entry.signatures = ImportedSignatureGenerator(kSeed).Signatures(count);
  const auto start = std::chrono::steady_clock::now();
  Result<SignatureMatcher> matcher = SignatureMatcher::Compile(entry.signatures);
  entry.compile_seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!matcher.ok()) {
    std::fprintf(stderr, "compile failed: %s\n", matcher.message().c_str());
    std::abort();
  }
  entry.matcher = std::make_unique<SignatureMatcher>(std::move(*matcher));
  entry.serialized = entry.matcher->Serialize();
  return entry;
}

void Compile(benchmark::State& state, size_t count) {
  for (auto _ : state) {
    const Prepared& prepared = PreparedFor(count);
    state.SetIterationTime(prepared.compile_seconds);
    state.counters["refused"] = static_cast<double>(prepared.matcher->refused().size());
    state.counters["serialized_MiB"] = static_cast<double>(prepared.serialized.size()) / (1 << 20);
  }
}

// One signature Vectorscan refuses costs a compile that fails, a check of every expression
// by Vectorscan's parser, and the compile that succeeds.
void CompileWithOneRefused(benchmark::State& state, size_t count) {
  std::vector<BodySignature> signatures = ImportedSignatureGenerator(kSeed).Signatures(count);
  // A byte whose value has bits its mask clears can never match.
  signatures[count / 2].pattern.parts[1].byte = {0x0F, 0xF0};
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    Result<SignatureMatcher> matcher = SignatureMatcher::Compile(signatures);
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    if (!matcher.ok() || matcher->refused().size() != 1) state.SkipWithError("not one refused");
  }
}

void Load(benchmark::State& state, size_t count) {
  const Prepared& prepared = PreparedFor(count);
  for (auto _ : state) {
    // The signatures are the importer's to read; loading takes them as they come.
    state.PauseTiming();
    std::vector<BodySignature> signatures = prepared.signatures;
    state.ResumeTiming();
    Result<SignatureMatcher> loaded =
        SignatureMatcher::Load(std::move(signatures), prepared.serialized);
    if (!loaded.ok() || loaded->recompiled())
      state.SkipWithError("the serialized bytes did not load");
    benchmark::DoNotOptimize(loaded);
  }
}

std::vector<uint8_t> ScannedFile() {
  std::vector<uint8_t> bytes = testing::PatternBytes(kScannedBytes, kSeed);
  const std::vector<uint8_t> header = testing::PeBuilder()
                                          .SectionRawSize(0x1000)
                                          .SectionVirtualSize(0x1000)
                                          .EntryPoint(0x1100)
                                          .Build();
  std::copy(header.begin(), header.begin() + 0x200, bytes.begin());
  return bytes;
}

void Scan(benchmark::State& state, size_t count) {
  const Prepared& prepared = PreparedFor(count);
  MemoryFileSystem files;
  if (!files.AddFile("/scanned", ScannedFile()).ok()) std::abort();
  auto root = files.OpenFolder("/");
  auto file = (*root)->OpenFile("scanned", OpenMode::kRead);
  const std::optional<PeLayout> layout = ReadPeLayout(**file);
  const ScanFacts facts{kScannedBytes, UINT64_MAX, layout ? &*layout : nullptr, ScanTarget::kFile};
  std::unique_ptr<MatcherScratch> scratch = prepared.matcher->NewScratch();
  for (auto _ : state) {
    const ScanOutcome outcome = prepared.matcher->Scan(**file, facts, *scratch);
    if (outcome.signature) state.counters["matched"] = 1;
    benchmark::DoNotOptimize(outcome);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kScannedBytes));
}

}  // namespace
}  // namespace quarn::bench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  using namespace quarn::bench;
  for (size_t count : kSignatureCounts) {
    const std::string suffix = "/" + std::to_string(count);
    benchmark::RegisterBenchmark(("SignatureMatcher/compile" + suffix).c_str(),
                                 [count](benchmark::State& state) { Compile(state, count); })
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kSecond);
    if (count == kSignatureCounts[0]) {
      benchmark::RegisterBenchmark(
          ("SignatureMatcher/compile_one_refused" + suffix).c_str(),
          [count](benchmark::State& state) { CompileWithOneRefused(state, count); })
          ->UseManualTime()
          ->Iterations(1)
          ->Unit(benchmark::kSecond);
    }
    benchmark::RegisterBenchmark(("SignatureMatcher/load" + suffix).c_str(),
                                 [count](benchmark::State& state) { Load(state, count); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("SignatureMatcher/scan_50MiB" + suffix).c_str(),
                                 [count](benchmark::State& state) { Scan(state, count); })
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
