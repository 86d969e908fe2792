// Any file through the whole detection stage, against the signature sources that ship: both
// detector chains and both heuristics, whatever the file's first bytes say it is. The stage
// also runs with the signature index and through the scan's read window, and must answer
// exactly as it does without them; the heuristics' search must cover their walk.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "dbtool/database_files.h"
#include "dbtool/signature_source.h"
#include "engine/behaviour_mask.h"
#include "engine/database_builder.h"
#include "engine/executable_chain.h"
#include "engine/file_verdict.h"
#include "engine/heuristics.h"
#include "engine/non_executable_chain.h"
#include "engine/signature_index.h"
#include "fuzz/fuzz_seeds.h"
#include "platform/test_support/memory_file_system.h"
#include "platform/posix_folder.h"
#include "platform/read_cache_file.h"
#include "samplegen/sample_set.h"

namespace {

const quarn::DatabaseImage& Signatures() {
  static const quarn::DatabaseImage image = [] {
    auto files = quarn::OpenPosixFileSystem();
    auto texts = quarn::ReadSourceTexts(*files, {QUARN_SIGNATURE_SOURCES});
    auto content = texts ? quarn::ParseSignatureSource(*texts)
                         : quarn::Result<quarn::DatabaseContent>(texts.status());
    auto image = content ? quarn::BuildSignatureImage(*content)
                         : quarn::Result<std::vector<uint8_t>>(content.status());
    if (!image) {
      std::fprintf(stderr, "detection_stage_fuzz: %s\n", image.message().c_str());
      std::abort();
    }
    return quarn::DatabaseImage(*image);
  }();
  return image;
}

const quarn::DatabaseImage& IndexedSignatures() {
  static const quarn::DatabaseImage image = [] {
    quarn::DatabaseImage indexed(Signatures().bytes());
    quarn::IndexSignatures(indexed);
    return indexed;
  }();
  return image;
}

bool SameVerdict(const quarn::FileVerdict& a, const quarn::FileVerdict& b) {
  return a.virus == b.virus && a.variant == b.variant && a.suspicious == b.suspicious &&
         a.executable == b.executable;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const quarn::DatabaseImage& signatures = Signatures();
  quarn::MemoryFileSystem files;
  files.AddFile("/f", std::vector<uint8_t>(data, data + size));
  auto folder = files.OpenFolder("/");
  auto file = (*folder)->OpenFile("f", quarn::OpenMode::kRead);
  if (!file) return 0;
  uint16_t flag = 0;
  const quarn::FileVerdict plain = quarn::DetectFile(signatures, **file, true);
  quarn::ReadCacheFile window(**file);
  if (!SameVerdict(quarn::DetectFile(IndexedSignatures(), window, true), plain)) std::abort();
  quarn::DetectExecutable(signatures, **file, &flag);
  quarn::DetectNonExecutable(signatures, **file, &flag);
  quarn::CheckExecutableHeuristics(signatures, **file);
  quarn::CheckNonExecutableHeuristics(signatures, **file);
  // The heuristics settle most files by a search instead of the walk: the search must hold
  // every bit the walk finds, for any code at the entry.
  quarn::EntryCode code;
  code.read = static_cast<uint32_t>(std::min<size_t>(size, 0x700));
  std::copy_n(data, code.read, code.bytes.begin());
  if ((quarn::WalkBehaviourMask(code) & ~quarn::PossibleBehaviourMask(code)) != 0) std::abort();
  return 0;
}

std::vector<std::string> FuzzSeeds() {
  std::vector<std::string> seeds;
  for (const quarn::samples::Sample& sample : quarn::samples::BuildSampleSet()) {
    seeds.emplace_back(sample.bytes.begin(), sample.bytes.end());
  }
  return seeds;
}
