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

#include "imported/pe_layout.h"
#include "imported/signature_matcher.h"
#include "platform/memory_file_system.h"
#include "testing/executable_builder.h"
#include "testing/pattern_bytes.h"

namespace quarn::bench {
namespace {

constexpr size_t kSignatureCounts[] = {10000, 100000};
constexpr size_t kScannedBytes = size_t{50} << 20;
constexpr uint32_t kSeed = 20260214;

class Generator {
 public:
  explicit Generator(uint32_t seed) : random_(seed) {}

  std::vector<BodySignature> Signatures(size_t count) {
    std::vector<BodySignature> signatures;
    for (size_t index = 0; index < count; ++index) {
      BodySignature signature;
      signature.index = static_cast<uint32_t>(index);
      signature.pattern = Pattern();
      Place(signature);
      signatures.push_back(std::move(signature));
    }
    return signatures;
  }

 private:
  size_t Below(size_t bound) { return random_() % bound; }
  PatternPart Whole() {
    return {PatternPart::Kind::kByte, {static_cast<uint8_t>(random_()), 0xFF}, 0, 0, {}};
  }

  // Mostly whole bytes, 10 to 60 of them; now and then a wildcard, a nibble, a short gap, an
  // open gap, a choice or (rarely) a gap longer than the matcher writes as it is.
  BodyPattern Pattern() {
    BodyPattern pattern;
    const size_t length = 10 + Below(51);
    const size_t roll = Below(100);
    const size_t at = 4 + Below(length - 8);
    for (size_t byte = 0; byte < length; ++byte) {
      pattern.parts.push_back(Whole());
      if (byte != at) continue;
      if (roll < 15) {
        pattern.parts.push_back({PatternPart::Kind::kByte, {0, 0}, 0, 0, {}});
      } else if (roll < 23) {
        pattern.parts.push_back(
            {PatternPart::Kind::kByte, {static_cast<uint8_t>(random_() & 0xF0), 0xF0}, 0, 0, {}});
      } else if (roll < 33) {
        const uint32_t min = static_cast<uint32_t>(Below(8));
        pattern.parts.push_back(
            {PatternPart::Kind::kJump, {}, min, min + 1 + static_cast<uint32_t>(Below(24)), {}});
      } else if (roll < 38) {
        pattern.parts.push_back({PatternPart::Kind::kJump, {}, 0, kUnboundedJump, {}});
      } else if (roll < 43) {
        PatternPart choice{PatternPart::Kind::kChoice, {}, 0, 0, {}};
        for (size_t string = 0; string < 2 + Below(3); ++string) {
          choice.choices.emplace_back();
          for (size_t index = 0; index <= Below(4); ++index) {
            choice.choices.back().push_back({static_cast<uint8_t>(random_()), 0xFF});
          }
        }
        pattern.parts.push_back(std::move(choice));
      } else if (roll < 44) {
        pattern.parts.push_back({PatternPart::Kind::kJump, {}, 100, 400, {}});
      }
    }
    return pattern;
  }

  void Place(BodySignature& signature) {
    using Base = OffsetRule::Base;
    const size_t roll = Below(100);
    OffsetRule& rule = signature.offset;
    if (roll < 70) return;  // anywhere, any file
    if (roll < 80) {
      rule.base = Base::kAbsolute;
      rule.delta = Below(4) == 0 ? static_cast<int64_t>(Below(4096)) : 0;
    } else if (roll < 88) {
      rule.base = Base::kEndOfFile;
      rule.delta = -static_cast<int64_t>(64 + Below(4096));
      rule.range = Below(2) == 0 ? 0 : 256;
    } else if (roll < 96) {
      rule.base = Base::kEntryPoint;
      rule.delta = static_cast<int64_t>(Below(64));
      signature.target = SignatureTarget::kPeFile;
    } else if (roll < 98) {
      rule.base = Below(2) == 0 ? Base::kLastSection : Base::kWholeSection;
      signature.target = SignatureTarget::kPeFile;
    } else {
      signature.target = SignatureTarget::kOle2Stream;
    }
  }

  std::mt19937 random_;
};

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
  entry.signatures = Generator(kSeed).Signatures(count);
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
  std::vector<BodySignature> signatures = Generator(kSeed).Signatures(count);
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
