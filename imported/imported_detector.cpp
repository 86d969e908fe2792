#include "imported/imported_detector.h"

#include "imported/matching/matcher_image.h"

#include <algorithm>
#include <future>

#include "imported/matching/compound_streams.h"
#include "imported/matching/file_digests.h"
#include "imported/matching/pe_layout.h"
#include "imported/matching/word_macros.h"
#include "imported/quarnx/database_file.h"
#include "platform/bytes_file.h"

namespace quarn {
namespace {

std::optional<uint32_t> Lowest(std::optional<uint32_t> a, std::optional<uint32_t> b) {
  if (!a) return b;
  if (!b) return a;
  return std::min(*a, *b);
}

bool IsWordDocumentStream(const std::string& name) {
  constexpr std::string_view kName = "worddocument";
  return name.size() == kName.size() &&
         std::equal(name.begin(), name.end(), kName.begin(),
                    [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a + 32 : a) == b; });
}

// One scratch per thread: a scan allocates nothing more as files come.
MatcherScratch& ScratchFor(const SignatureMatcher& matcher) {
  thread_local const SignatureMatcher* owner = nullptr;
  thread_local std::unique_ptr<MatcherScratch> scratch;
  if (owner != &matcher || !scratch) {
    scratch = matcher.NewScratch();
    owner = &matcher;
  }
  return *scratch;
}

}  // namespace

Result<std::vector<BodySignature>> BodySignaturesOf(const ImportedDatabase& database) {
  std::vector<BodySignature> bodies;
  bodies.reserve(database.bodies().size());
  const bool read = database.ForEachBody([&](uint32_t index, ImportedSignature::Target target,
                                             OffsetRule offset, BodyPattern pattern) {
    bodies.push_back({index, std::move(pattern), offset, static_cast<SignatureTarget>(target)});
  });
  if (!read) return Status::Error("the patterns cannot be read");
  return bodies;
}

namespace {

// The matcher from the database's image, or compiled again from its patterns where the image
// does not load here.
Result<SignatureMatcher> MatcherOf(const ImportedDatabase& database) {
  const std::vector<uint8_t> image = database.matcher();
  // The image holds all a scan needs: the patterns are not read at all.
  if (std::optional<SignatureMatcher> loaded =
          SignatureMatcher::LoadImage(image, database.bodies())) {
    return std::move(*loaded);
  }
  // Its section's CRC was left to the image's own checksum (ImportedDatabase::Checks).
  if (MatcherImageDamaged(image)) return Status::Error("section 4 fails its CRC");
  // The patterns as they are read, packed at once: a database of a million would otherwise
  // hold gigabytes of parts while it loads.
  SignatureMatcher::Taker taker(database.bodies().size());
  const bool read = database.ForEachBody([&](uint32_t index, ImportedSignature::Target target,
                                             OffsetRule offset, BodyPattern pattern) {
    taker.Take({index, std::move(pattern), offset, static_cast<SignatureTarget>(target)});
  });
  if (!read) return Status::Error("the patterns cannot be read");
  // The image does not load here (another Vectorscan, another processor, an older
  // translation): compiled again.
  return SignatureMatcher::CompileTaken(std::move(taker));
}

}  // namespace

Result<std::unique_ptr<ImportedSignatures>> ImportedSignatures::Open(ImportedDatabase database) {
  // The hash rows are checked on a thread of their own while the matcher loads: with
  // millions of each, both are most of a scanner's start-up. (Waited for on every path: the
  // future's end joins the thread before `database` goes.)
  std::future<Status> hashes = std::async([&database] { return database.LoadHashRows(); });
  Result<SignatureMatcher> matcher = MatcherOf(database);
  const Status hashes_checked = hashes.get();
  if (!hashes_checked) return hashes_checked;
  if (!matcher) return matcher.status();
  return std::unique_ptr<ImportedSignatures>(
      new ImportedSignatures(std::move(database), std::move(*matcher)));
}

HashLookup ImportedSignatures::MatchHash(File& file, ImportedSignature::Kind kind, uint64_t offset,
                                         uint64_t length) const {
  constexpr uint64_t kAnySize = ImportedSignature::kAnySize;
  const bool of_length = database_.HasHashOfSize(kind, length);
  const bool of_any_size = database_.HasHashOfSize(kind, kAnySize);
  if (!of_length && !of_any_size) return {};
  const std::optional<FileDigests> digests = DigestRange(file, offset, length);
  if (!digests) return {};
  HashLookup found;
  for (const std::vector<uint8_t>* digest : {&digests->md5, &digests->sha1, &digests->sha256}) {
    for (const uint64_t size : {length, kAnySize}) {
      if (!(size == length ? of_length : of_any_size)) continue;
      const HashLookup lookup = database_.FindHash(kind, size, *digest);
      found.signature = Lowest(found.signature, lookup.signature);
      found.failed = found.failed || lookup.failed;
    }
  }
  return found;
}

std::optional<uint32_t> ImportedSignatures::MatchStreams(File& file, uint64_t byte_limit,
                                                         bool& unverified) const {
  if (matcher_.signature_count() == 0) return std::nullopt;
  std::optional<uint32_t> found;
  const auto scan = [&](File& stream) {
    ScanFacts facts;
    facts.size = stream.Size().value_or(0);
    facts.target = ScanTarget::kOle2Stream;
    const ScanOutcome outcome = matcher_.Scan(stream, facts, ScratchFor(matcher_));
    found = Lowest(found, outcome.signature);
    unverified = unverified || outcome.unconfirmed > 0;
  };
  // Shared by every "WordDocument" stream: entries of a directory that all name one stream
  // cost no more than one of them.
  uint64_t macro_bytes_left = byte_limit;
  ForEachCompoundStream(file, {byte_limit}, [&](const std::string& name, File& stream) {
    scan(stream);
    // A Word 6 macro is stored enciphered: the patterns of compound documents are meant for
    // its clear text, which is scanned like one more stream.
    if (IsWordDocumentStream(name)) {
      macro_bytes_left -= ForEachWordMacro(stream, macro_bytes_left, scan);
    }
  });
  return found;
}

ImportedMatch ImportedSignatures::MatchFile(File& file, uint64_t byte_limit) const {
  const std::optional<uint64_t> size = file.Size();
  if (!size) return {};
  const std::optional<PeLayout> pe = ReadPeLayout(file);
  ScanFacts facts;
  facts.size = *size;
  facts.byte_limit = byte_limit;
  facts.pe = pe ? &*pe : nullptr;
  const ScanOutcome outcome = matcher_.Scan(file, facts, ScratchFor(matcher_));
  bool unverified = outcome.unconfirmed > 0;
  std::optional<uint32_t> found = outcome.signature;
  found = Lowest(found, MatchStreams(file, byte_limit, unverified));
  bool unfinished = false;
  const auto take = [&](const HashLookup& lookup) {
    found = Lowest(found, lookup.signature);
    unfinished = unfinished || lookup.failed;
  };
  // A digest covers the whole file: one past the limit is not scanned.
  if (*size <= byte_limit) take(MatchHash(file, ImportedSignature::Kind::kFileHash, 0, *size));
  if (pe) {
    for (const PeSection& section : pe->sections) {
      if (section.raw_size == 0 || section.raw_offset + section.raw_size > byte_limit) continue;
      take(MatchHash(file, ImportedSignature::Kind::kSectionHash, section.raw_offset,
                     section.raw_size));
    }
  }
  // A lookup that failed might have found a signature: only a match settles the file then.
  return {found, unverified, unfinished && !found};
}

std::optional<uint32_t> ImportedSignatures::MatchBootArea(std::span<const uint8_t> sector) const {
  BytesFile file(sector);
  ScanFacts facts;
  facts.size = sector.size();
  facts.byte_limit = sector.size();
  return matcher_.Scan(file, facts, ScratchFor(matcher_)).signature;
}

Result<std::unique_ptr<ImportedDetector>> LoadImportedSignatures(FileSystem& files,
                                                                 const std::string& folder_path) {
  auto database = ReadImportedDatabaseFile(files, folder_path, ImportedDatabase::Checks::kForScans);
  if (!database) return database.status();
  if (!*database) return std::unique_ptr<ImportedDetector>();
  auto opened = ImportedSignatures::Open(std::move(**database));
  if (!opened) {
    return Status::Error(folder_path + "/" + kImportedDatabaseFileName + ": " + opened.message());
  }
  return std::unique_ptr<ImportedDetector>(std::move(*opened));
}

}  // namespace quarn
