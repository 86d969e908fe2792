#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "imported/body_pattern.h"
#include "imported/matching/pattern_verifier.h"
#include "imported/matching/pe_layout.h"
#include "imported/matching/vectorscan_database.h"
#include "imported/offset_rule.h"
#include "platform/file.h"
#include "platform/status.h"

namespace quarn {

struct MatcherImage;

// Which scans a signature takes part in, numbered as the source records number them.
enum class SignatureTarget : uint8_t {
  kAnyFile = 0,     // every scan
  kPeFile = 1,      // a file scan of an "MZ" executable
  kOle2Stream = 2,  // a scan of one stream of a compound document
};

struct BodySignature {
  uint32_t index = 0;  // what a match reports; the lowest index matching wins
  BodyPattern pattern;
  OffsetRule offset;
  SignatureTarget target = SignatureTarget::kAnyFile;
};

// A signature the matcher leaves out, and why (Vectorscan's words, mostly).
struct RefusedSignature {
  uint32_t index = 0;
  std::string reason;
  friend bool operator==(const RefusedSignature&, const RefusedSignature&) = default;
};

enum class ScanTarget : uint8_t { kFile, kOle2Stream };

// Each byte test of pattern verification counts; by default a scan may make this many.
inline constexpr uint64_t kDefaultVerificationBudget = uint64_t{1} << 26;

// What a scan knows of what it scans.
struct ScanFacts {
  uint64_t size = 0;                 // "EOF-n" counts back from here
  uint64_t byte_limit = UINT64_MAX;  // no byte from here on is read; no match may reach it
  const PeLayout* pe = nullptr;      // the PE layout, or null when it is no "MZ" executable
  ScanTarget target = ScanTarget::kFile;
  uint64_t verification_budget = kDefaultVerificationBudget;
};

struct ScanOutcome {
  std::optional<uint32_t> signature;  // the lowest index that matched
  // Candidates left unconfirmed when the scan's verification budget ran out; each might
  // have matched.
  uint32_t unconfirmed = 0;
  bool failed = false;  // Vectorscan could not run (no memory): the scan stopped short
};

// What one thread needs to scan: Vectorscan's stream and scratch, the verifier, a read
// buffer and the state of each signature during a scan. Made by a matcher, usable with any;
// sized once, so scans allocate nothing more as files grow.
class MatcherScratch;

// All body signatures of an imported database, compiled into Vectorscan databases in
// streaming mode, and the checks Vectorscan cannot make. A pattern is looked for by its
// anchor, a few whole bytes (see pattern_anchor.h), and each place found is confirmed by the
// verifier, unless the anchor is the whole pattern; a pattern without a good anchor is
// compiled as a whole expression. The anchors go into databases of kAnchorsPerDatabase each,
// the expressions into one more.
//
// Movable; const after construction, so threads may share it, each with its own scratch.
class SignatureMatcher {
 public:
  static constexpr uint32_t kBlockSize = 64 * 1024;
  // Vectorscan's compile time and memory grow faster than the count of literals (a million
  // at once: a minute and 2 GB; 100,000: 3 s and 250 MB), a scan's cost with the count of
  // databases.
  static constexpr size_t kAnchorsPerDatabase = 100000;

  SignatureMatcher(SignatureMatcher&&) noexcept;
  SignatureMatcher& operator=(SignatureMatcher&&) noexcept;
  ~SignatureMatcher();

  // Compiles `signatures`. Those Vectorscan refuses are left out and listed by refused();
  // fails only when Vectorscan cannot compile the rest at all.
  static Result<SignatureMatcher> Compile(std::vector<BodySignature> signatures);

  // The matcher Serialize wrote for these same signatures. When the bytes do not load (from
  // another Vectorscan or processor, for other signatures, damaged) the signatures are
  // compiled again, and recompiled() says so. Vectorscan's part of the bytes is taken as it
  // is once the checksum holds: they are the program's own; bytes forged to pass it are not
  // what this guards against.
  static Result<SignatureMatcher> Load(std::vector<BodySignature> signatures,
                                       std::span<const uint8_t> serialized);

  // Signatures taken one at a time, as a database's are read or an import makes them: each
  // is fingerprinted and worked out as it comes (its anchor or expression, its checks) and
  // its pattern kept packed where the verifier will read it, so a large database's patterns
  // are never all held as parts at once.
  class Taker {
   public:
    explicit Taker(size_t count);  // how many will be taken
    Taker(Taker&&) noexcept;
    ~Taker();
    void Take(const BodySignature& signature);

   private:
    friend class SignatureMatcher;
    std::unique_ptr<SignatureMatcher> matcher_;  // its type is not complete here
    uint64_t fingerprint_;
    std::string packing_;  // the pattern being taken, packed
    std::vector<ExpressionRequest> anchors_;
    std::vector<ExpressionRequest> expressions_;
  };
  // The matcher Serialize wrote for the signatures taken; nothing, and `taker` as it was,
  // when the bytes do not load for them.
  static std::optional<SignatureMatcher> LoadTaken(Taker& taker,
                                                   std::span<const uint8_t> serialized);
  // The matcher Serialize wrote, taken whole from its image without the patterns, for
  // signatures whose indexes are `indexes`, in order: what a scanner's start-up does, as
  // the image lies beside the patterns in one checked file. Nothing when the image is not
  // of this program's translation, not for as many signatures with these indexes, or does
  // not load here.
  static std::optional<SignatureMatcher> LoadImage(std::span<const uint8_t> serialized,
                                                   std::span<const uint32_t> indexes);
  // The signatures taken, compiled.
  static Result<SignatureMatcher> CompileTaken(Taker taker);

  // The compiled databases and what Load checks before it takes them: the signatures'
  // fingerprint, the refusals and a checksum. Empty when Vectorscan cannot serialize them.
  std::vector<uint8_t> Serialize() const;

  const std::vector<RefusedSignature>& refused() const { return refused_; }
  bool recompiled() const { return recompiled_; }
  size_t signature_count() const { return entries_.size(); }

  std::unique_ptr<MatcherScratch> NewScratch() const;

  // Reads `file` from its start in blocks of kBlockSize bytes, up to the byte limit or the
  // size, through the databases, and returns the lowest index of the signatures whose target
  // takes this scan and whose pattern matches where their offset rule allows. Re-reads
  // parts of the file to confirm a candidate; moves the file's position. A file that reads
  // fewer bytes than its size is scanned as far as it reads.
  ScanOutcome Scan(File& file, const ScanFacts& facts, MatcherScratch& scratch) const;
  // The same with a scratch made for this one scan, which costs an allocation the size of
  // Vectorscan's scratch: for a scan now and then.
  ScanOutcome Scan(File& file, const ScanFacts& facts) const;

 private:
  // How a signature's reports are judged.
  enum class Check : uint8_t {
    kRefused,     // not in the databases
    kAnywhere,    // every report is a match
    kFixedStart,  // the start is the report's end less the pattern's one length
    kVerify,      // a report is a candidate: the verifier looks at the allowed starts
  };
  struct Entry {
    uint32_t index = 0;
    SignatureTarget target = SignatureTarget::kAnyFile;
    Check check = Check::kRefused;
    OffsetRule offset;
    // A report of a match from start s ends at E with E - s in [span_min, span_max].
    uint64_t span_min = 0;
    uint64_t span_max = 0;
    // The packed pattern in verify_patterns_, for kVerify only.
    uint64_t packed_at = 0;
    uint32_t packed_length = 0;
  };

  SignatureMatcher() = default;
  // Works out the signature at `position` of entries_, adding its request to `taker`.
  static void Prepare(Taker& taker, const BodySignature& signature, size_t position);
  // Takes the databases and refusals of an image, of as many databases as `expected` where
  // given; false, and nothing changed, when they do not load or do not fit.
  struct ExpectedDatabases {
    size_t anchors = 0;      // databases of anchors
    size_t expressions = 0;  // expressions for the one more
  };
  bool TakeImage(const MatcherImage& image, std::optional<ExpectedDatabases> expected);
  void Refuse(size_t position, const std::string& reason);
  void Finish();  // after the refusals are known
  std::string_view PackedPattern(const Entry& entry) const {
    return std::string_view(verify_patterns_).substr(entry.packed_at, entry.packed_length);
  }
  friend class MatchSession;

  std::vector<Entry> entries_;  // by position, which is the expression id
  std::string verify_patterns_;
  std::vector<RefusedSignature> refused_;
  std::vector<uint32_t> refused_positions_;  // beside refused_
  std::vector<VectorscanDatabase> databases_;
  uint64_t fingerprint_ = 0;
  uint32_t lowest_index_ = UINT32_MAX;
  bool recompiled_ = false;
};

class MatcherScratch {
 public:
  MatcherScratch() = default;

 private:
  friend class MatchSession;
  friend class SignatureMatcher;
  std::vector<std::unique_ptr<VectorscanStream>> streams_;  // one a database
  PatternVerifier verifier_;
  BodyPattern pattern_;  // the last pattern unpacked for the verifier, and whose
  uint32_t pattern_id_ = UINT32_MAX;
  std::vector<uint8_t> block_;
  std::vector<uint8_t> state_;                             // by expression id
  std::vector<uint32_t> touched_;                          // ids whose state_ the scan changed
  std::unordered_map<uint32_t, uint64_t> verified_up_to_;  // first start not yet verified
};

}  // namespace quarn
