#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/status.h"

struct hs_database;
struct hs_scratch;
struct hs_stream;

namespace quarn {

// One expression for the database: its text, Vectorscan flags, the id its reports carry,
// and, where not 0, the least and greatest stream offset its matches may end at.
struct ExpressionRequest {
  std::string text;
  unsigned flags = 0;
  unsigned id = 0;
  uint64_t min_end = 0;
  uint64_t max_end = 0;
};

struct RefusedExpression {
  unsigned id = 0;
  std::string reason;  // Vectorscan's own words
};

// A Vectorscan database in streaming mode. Owns it; movable, not copyable. An empty one (no
// expression compiled) matches nothing.
class VectorscanDatabase {
 public:
  VectorscanDatabase() = default;
  ~VectorscanDatabase();
  VectorscanDatabase(VectorscanDatabase&& other) noexcept;
  VectorscanDatabase& operator=(VectorscanDatabase&& other) noexcept;
  VectorscanDatabase(const VectorscanDatabase&) = delete;
  VectorscanDatabase& operator=(const VectorscanDatabase&) = delete;

  // Compiles all `expressions` into one database. An expression Vectorscan refuses is left
  // out and appended to `refused` with the reason, and the rest compiled again: after the
  // first refusal every expression is checked alone by Vectorscan's parser, after the second
  // each is compiled alone, so a list with many bad expressions costs a few compiles of the
  // whole, not one per bad expression. Fails only when Vectorscan fails for the list as a
  // whole (memory) or keeps refusing after that.
  static Result<VectorscanDatabase> Compile(const std::vector<ExpressionRequest>& expressions,
                                            std::vector<RefusedExpression>& refused);

  // Compiles `literals` with Vectorscan's literal compiler: each request's text is bytes to
  // find, not an expression (none empty, none starting with a NUL, which it refuses), and
  // only HS_FLAG_SINGLEMATCH of its flags and no end bounds are taken. Far quicker than
  // Compile for the same bytes written as expressions.
  static Result<VectorscanDatabase> CompileLiterals(
      std::span<const ExpressionRequest* const> literals);

  // The database Serialize wrote; nothing when Vectorscan does not take the bytes (another
  // version of it, a processor without the instructions it was compiled for, damage).
  static std::optional<VectorscanDatabase> Deserialize(std::span<const uint8_t> bytes);

  // Empty for an empty database.
  std::vector<uint8_t> Serialize() const;

  bool empty() const { return database_ == nullptr; }
  hs_database* raw() const { return database_; }
  // Tells databases apart where an address cannot: a freed one's may be handed out again.
  uint64_t serial() const { return serial_; }

 private:
  explicit VectorscanDatabase(hs_database* database);
  hs_database* database_ = nullptr;
  uint64_t serial_ = 0;
};

// Receives one stream's reports. Returns false to stop the scan.
class MatchSink {
 public:
  virtual ~MatchSink() = default;
  virtual bool OnMatch(unsigned id, uint64_t end) = 0;
};

// A stream and the scratch space it runs in, for one thread. Kept between scans so that each
// scan costs no allocation; fits itself to whatever database a scan begins with.
class VectorscanStream {
 public:
  VectorscanStream() = default;
  ~VectorscanStream();
  VectorscanStream(const VectorscanStream&) = delete;
  VectorscanStream& operator=(const VectorscanStream&) = delete;

  // Starts a stream over `database` (not empty). False when Vectorscan cannot allocate.
  bool Begin(const VectorscanDatabase& database);

  enum class Fed : uint8_t { kMore, kStopped, kFailed };
  // Scans the next bytes of the stream. After kStopped or kFailed, only End.
  Fed Feed(const uint8_t* data, uint32_t length, MatchSink& sink);
  // Ends the stream, delivering any report held for the end of the data.
  void End(MatchSink& sink);

 private:
  void Close();

  uint64_t database_serial_ = 0;
  hs_scratch* scratch_ = nullptr;
  hs_stream* stream_ = nullptr;
};

}  // namespace quarn
