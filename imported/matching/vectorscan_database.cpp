#include "imported/matching/vectorscan_database.h"

#include <hs/hs.h>

#include <atomic>
#include <cstdlib>
#include <string_view>
#include <utility>

// Vectorscan 5.4.9's scanning code for AVX-512 misses matches whose last byte lies near the
// end of the buffer a call is given (a one-byte literal after ".*" among them, found by the
// fuzz target; its accelerators' tail paths were mended upstream later). A build of it with
// a runtime for each instruction set exports each one's entry points under a prefix: on a
// processor with AVX-512 the stream calls go to the AVX2 ones, which scan correctly, and
// databases are compiled for AVX2. Weak, so that a build without them still links.
extern "C" {
hs_error_t avx2_hs_open_stream(const hs_database_t* database, unsigned flags, hs_stream_t** stream)
    __attribute__((weak));
hs_error_t avx2_hs_scan_stream(hs_stream_t* stream, const char* data, unsigned length,
                               unsigned flags, hs_scratch_t* scratch, match_event_handler on_event,
                               void* context) __attribute__((weak));
hs_error_t avx2_hs_reset_stream(hs_stream_t* stream, unsigned flags, hs_scratch_t* scratch,
                                match_event_handler on_event, void* context) __attribute__((weak));
hs_error_t avx2_hs_close_stream(hs_stream_t* stream, hs_scratch_t* scratch,
                                match_event_handler on_event, void* context) __attribute__((weak));
}

namespace quarn {
namespace {

// Compiles after a refusal; each drops the refused expression and tries again.
constexpr int kMostCompiles = 8;

struct StreamCalls {
  hs_error_t (*open)(const hs_database_t*, unsigned, hs_stream_t**);
  hs_error_t (*scan)(hs_stream_t*, const char*, unsigned, unsigned, hs_scratch_t*,
                     match_event_handler, void*);
  hs_error_t (*reset)(hs_stream_t*, unsigned, hs_scratch_t*, match_event_handler, void*);
  hs_error_t (*close)(hs_stream_t*, hs_scratch_t*, match_event_handler, void*);
  bool avoids_avx512;
};

const StreamCalls& Calls() {
  static const StreamCalls calls = [] {
    hs_platform_info_t host{};
    const bool avx512 = hs_populate_platform(&host) == HS_SUCCESS &&
                        (host.cpu_features & HS_CPU_FEATURES_AVX512) != 0;
    if (avx512 && avx2_hs_open_stream != nullptr && avx2_hs_scan_stream != nullptr &&
        avx2_hs_reset_stream != nullptr && avx2_hs_close_stream != nullptr) {
      return StreamCalls{avx2_hs_open_stream, avx2_hs_scan_stream, avx2_hs_reset_stream,
                         avx2_hs_close_stream, true};
    }
    return StreamCalls{hs_open_stream, hs_scan_stream, hs_reset_stream, hs_close_stream, false};
  }();
  return calls;
}

// The platform databases are compiled for: this processor, less AVX-512 where the AVX2
// runtime scans.
const hs_platform_info_t* CompilePlatform() {
  static const hs_platform_info_t platform = [] {
    hs_platform_info_t host{};
    hs_populate_platform(&host);
    if (Calls().avoids_avx512) {
      host.cpu_features &=
          ~static_cast<unsigned long long>(HS_CPU_FEATURES_AVX512 | HS_CPU_FEATURES_AVX512VBMI);
    }
    return host;
  }();
  return &platform;
}

int Report(unsigned id, unsigned long long /*from*/, unsigned long long to, unsigned /*flags*/,
           void* context) {
  return static_cast<MatchSink*>(context)->OnMatch(id, to) ? 0 : 1;
}

hs_expr_ext_t ExtensionOf(const ExpressionRequest& expression) {
  hs_expr_ext_t extension{};
  if (expression.min_end != 0) {
    extension.flags |= HS_EXT_FLAG_MIN_OFFSET;
    extension.min_offset = expression.min_end;
  }
  if (expression.max_end != 0) {
    extension.flags |= HS_EXT_FLAG_MAX_OFFSET;
    extension.max_offset = expression.max_end;
  }
  return extension;
}

struct CompileAttempt {
  hs_database_t* database = nullptr;
  std::string error;
  int failed_expression = -1;  // position in the list given, or -1 when none is named
};

CompileAttempt CompileList(const std::vector<const ExpressionRequest*>& list) {
  std::vector<const char*> texts;
  std::vector<unsigned> flags;
  std::vector<unsigned> ids;
  std::vector<hs_expr_ext_t> extensions;
  std::vector<const hs_expr_ext_t*> extension_pointers;
  for (const ExpressionRequest* expression : list) {
    texts.push_back(expression->text.c_str());
    flags.push_back(expression->flags);
    ids.push_back(expression->id);
    extensions.push_back(ExtensionOf(*expression));
  }
  for (const hs_expr_ext_t& extension : extensions) extension_pointers.push_back(&extension);
  CompileAttempt attempt;
  hs_compile_error_t* error = nullptr;
  const hs_error_t result =
      hs_compile_ext_multi(texts.data(), flags.data(), ids.data(), extension_pointers.data(),
                           static_cast<unsigned>(list.size()), HS_MODE_STREAM, CompilePlatform(),
                           &attempt.database, &error);
  if (result != HS_SUCCESS) {
    attempt.database = nullptr;
    attempt.error = error != nullptr ? error->message : "compile failed";
    attempt.failed_expression = error != nullptr ? error->expression : -1;
  }
  if (error != nullptr) hs_free_compile_error(error);
  return attempt;
}

// Leaves out of `list` each expression `refuses` gives a reason for.
template <typename Check>
void DropRefused(std::vector<const ExpressionRequest*>& list,
                 std::vector<RefusedExpression>& refused, Check refuses) {
  std::vector<const ExpressionRequest*> kept;
  for (const ExpressionRequest* expression : list) {
    std::optional<std::string> reason = refuses(*expression);
    if (reason) {
      refused.push_back({expression->id, std::move(*reason)});
    } else {
      kept.push_back(expression);
    }
  }
  list.swap(kept);
}

std::optional<std::string> ParserRefuses(const ExpressionRequest& expression) {
  hs_expr_info_t* info = nullptr;
  hs_compile_error_t* error = nullptr;
  const hs_expr_ext_t extension = ExtensionOf(expression);
  const hs_error_t result =
      hs_expression_ext_info(expression.text.c_str(), expression.flags, &extension, &info, &error);
  std::optional<std::string> reason;
  if (result != HS_SUCCESS) reason = error != nullptr ? error->message : "refused";
  if (error != nullptr) hs_free_compile_error(error);
  free(info);  // Vectorscan allocates it with the default allocator, malloc
  return reason;
}

std::optional<std::string> CompilerRefuses(const ExpressionRequest& expression) {
  CompileAttempt attempt = CompileList({&expression});
  if (attempt.database == nullptr) return attempt.error;
  hs_free_database(attempt.database);
  return std::nullopt;
}

}  // namespace

VectorscanDatabase::VectorscanDatabase(hs_database* database) : database_(database) {
  static std::atomic<uint64_t> last_serial{0};
  serial_ = ++last_serial;
}

VectorscanDatabase::~VectorscanDatabase() {
  if (database_ != nullptr) hs_free_database(database_);
}

VectorscanDatabase::VectorscanDatabase(VectorscanDatabase&& other) noexcept
    : database_(std::exchange(other.database_, nullptr)),
      serial_(std::exchange(other.serial_, 0)) {}

VectorscanDatabase& VectorscanDatabase::operator=(VectorscanDatabase&& other) noexcept {
  if (this != &other) {
    if (database_ != nullptr) hs_free_database(database_);
    database_ = std::exchange(other.database_, nullptr);
    serial_ = std::exchange(other.serial_, 0);
  }
  return *this;
}

Result<VectorscanDatabase> VectorscanDatabase::Compile(
    const std::vector<ExpressionRequest>& expressions, std::vector<RefusedExpression>& refused) {
  std::vector<const ExpressionRequest*> list;
  for (const ExpressionRequest& expression : expressions) list.push_back(&expression);
  for (int compiles = 0; compiles < kMostCompiles; ++compiles) {
    if (list.empty()) return VectorscanDatabase();
    CompileAttempt attempt = CompileList(list);
    if (attempt.database != nullptr) return VectorscanDatabase(attempt.database);
    if (attempt.failed_expression < 0 ||
        static_cast<size_t>(attempt.failed_expression) >= list.size()) {
      return Status::Error("Vectorscan cannot compile the patterns: " + attempt.error);
    }
    refused.push_back({list[attempt.failed_expression]->id, attempt.error});
    list.erase(list.begin() + attempt.failed_expression);
    // One refusal suggests more: find them for the price of a parse each, then of a compile
    // each, rather than of a compile of the whole list each.
    if (compiles == 0) DropRefused(list, refused, ParserRefuses);
    if (compiles == 1) DropRefused(list, refused, CompilerRefuses);
  }
  return Status::Error("Vectorscan keeps refusing the patterns after " +
                       std::to_string(kMostCompiles) + " compiles");
}

Result<VectorscanDatabase> VectorscanDatabase::CompileLiterals(
    std::span<const ExpressionRequest* const> literals) {
  if (literals.empty()) return VectorscanDatabase();
  std::vector<const char*> texts;
  std::vector<size_t> lengths;
  std::vector<unsigned> flags;
  std::vector<unsigned> ids;
  for (const ExpressionRequest* literal : literals) {
    texts.push_back(literal->text.data());
    lengths.push_back(literal->text.size());
    flags.push_back(literal->flags & HS_FLAG_SINGLEMATCH);
    ids.push_back(literal->id);
  }
  hs_database_t* database = nullptr;
  hs_compile_error_t* error = nullptr;
  const hs_error_t result = hs_compile_lit_multi(
      texts.data(), flags.data(), ids.data(), lengths.data(), static_cast<unsigned>(texts.size()),
      HS_MODE_STREAM, CompilePlatform(), &database, &error);
  std::string reason = error != nullptr ? error->message : "compile failed";
  if (error != nullptr) hs_free_compile_error(error);
  if (result != HS_SUCCESS)
    return Status::Error("Vectorscan cannot compile the anchors: " + reason);
  return VectorscanDatabase(database);
}

std::optional<VectorscanDatabase> VectorscanDatabase::Deserialize(std::span<const uint8_t> bytes) {
  if (bytes.empty()) return VectorscanDatabase();
  hs_database_t* database = nullptr;
  if (hs_deserialize_database(reinterpret_cast<const char*>(bytes.data()), bytes.size(),
                              &database) != HS_SUCCESS) {
    return std::nullopt;
  }
  VectorscanDatabase loaded(database);
  // The AVX2 runtime is not given a database compiled for AVX-512.
  char* info = nullptr;
  if (Calls().avoids_avx512 && (hs_database_info(database, &info) != HS_SUCCESS ||
                                std::string_view(info).find("AVX512") != std::string_view::npos)) {
    free(info);
    return std::nullopt;
  }
  free(info);
  return loaded;
}

std::vector<uint8_t> VectorscanDatabase::Serialize() const {
  if (database_ == nullptr) return {};
  char* bytes = nullptr;
  size_t length = 0;
  if (hs_serialize_database(database_, &bytes, &length) != HS_SUCCESS) return {};
  std::vector<uint8_t> serialized(bytes, bytes + length);
  free(bytes);  // the default allocator's
  return serialized;
}

VectorscanStream::~VectorscanStream() {
  Close();
  if (scratch_ != nullptr) hs_free_scratch(scratch_);
}

void VectorscanStream::Close() {
  if (stream_ != nullptr) Calls().close(stream_, nullptr, nullptr, nullptr);
  stream_ = nullptr;
  database_serial_ = 0;
}

bool VectorscanStream::Begin(const VectorscanDatabase& database) {
  if (database.empty()) return false;
  if (stream_ != nullptr && database_serial_ == database.serial()) {
    return Calls().reset(stream_, 0, nullptr, nullptr, nullptr) == HS_SUCCESS;
  }
  Close();
  if (hs_alloc_scratch(database.raw(), &scratch_) != HS_SUCCESS) return false;
  if (Calls().open(database.raw(), 0, &stream_) != HS_SUCCESS) {
    stream_ = nullptr;
    return false;
  }
  database_serial_ = database.serial();
  return true;
}

VectorscanStream::Fed VectorscanStream::Feed(const uint8_t* data, uint32_t length,
                                             MatchSink& sink) {
  const hs_error_t result = Calls().scan(stream_, reinterpret_cast<const char*>(data), length, 0,
                                         scratch_, Report, &sink);
  if (result == HS_SUCCESS) return Fed::kMore;
  return result == HS_SCAN_TERMINATED ? Fed::kStopped : Fed::kFailed;
}

void VectorscanStream::End(MatchSink& sink) {
  if (stream_ != nullptr) Calls().reset(stream_, 0, scratch_, Report, &sink);
}

}  // namespace quarn
