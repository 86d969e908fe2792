// compile_patterns MODE FILE.ndb: how long Vectorscan takes, and how much memory, to compile
// the body patterns of an .ndb alone: MODE "matcher" as the import compiles them (the
// matcher's Compile, offsets and flags included), "expressions" each pattern's whole
// expression with no offsets or flags, "literals" each pattern's longest run of whole bytes
// alone, as a prefilter would. Run one mode a process: the peak memory printed is the
// process's.
#include <hs/hs.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "imported/body_pattern.h"
#include "imported/matching/pattern_expression.h"
#include "imported/matching/signature_matcher.h"
#include "imported/offset_rule.h"

namespace {

// The longest run of whole bytes outside choices, as a pattern of its own. (Vectorscan's
// literal API refuses a literal that starts with a NUL: the run goes through the expression
// writer instead, and Vectorscan finds it is a literal.)
quarn::BodyPattern LongestLiteral(const quarn::BodyPattern& pattern) {
  quarn::BodyPattern best;
  quarn::BodyPattern run;
  for (const quarn::PatternPart& part : pattern.parts) {
    if (part.kind == quarn::PatternPart::Kind::kByte && part.byte.mask == 0xFF) {
      run.parts.push_back(part);
      if (run.parts.size() > best.parts.size()) best = run;
    } else {
      run.parts.clear();
    }
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: compile_patterns matcher|expressions|literals FILE.ndb\n");
    return 2;
  }
  const std::string mode = argv[1];
  std::ifstream in(argv[2]);
  std::vector<std::string> texts;
  std::vector<quarn::BodySignature> bodies;
  std::string line;
  while (std::getline(in, line)) {
    const size_t hex = line.rfind(':');
    if (hex == std::string::npos) continue;
    quarn::ParsedPattern parsed = quarn::ParseBodyPattern(std::string_view(line).substr(hex + 1));
    if (!parsed.pattern) continue;
    if (mode == "matcher") {
      // NAME:TARGET:OFFSET:HEX
      const size_t target = line.find(':');
      const size_t offset = line.find(':', target + 1);
      const auto rule =
          quarn::ParseOffsetRule(std::string_view(line).substr(offset + 1, hex - offset - 1));
      if (!rule) continue;
      bodies.push_back({static_cast<uint32_t>(bodies.size()), std::move(*parsed.pattern), *rule,
                        static_cast<quarn::SignatureTarget>(line[target + 1] - '0')});
      continue;
    }
    const quarn::BodyPattern written =
        mode == "literals" ? LongestLiteral(*parsed.pattern) : *parsed.pattern;
    // A pattern without two whole bytes in a row has nothing to prefilter on.
    if (written.parts.size() >= 2) texts.push_back(quarn::WritePatternExpression(written).text);
  }
  std::vector<const char*> pointers;
  std::vector<unsigned> flags(texts.size(), HS_FLAG_DOTALL);
  std::vector<unsigned> ids;
  for (size_t index = 0; index < texts.size(); ++index) {
    pointers.push_back(texts[index].c_str());
    ids.push_back(static_cast<unsigned>(index));
  }
  if (mode == "matcher") {
    const size_t count = bodies.size();
    const auto start = std::chrono::steady_clock::now();
    auto matcher = quarn::SignatureMatcher::Compile(std::move(bodies));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("matcher: %zu patterns, %s in %.1f s, image %.1f MiB, peak memory %ld MiB\n", count,
                matcher ? "compiled" : matcher.message().c_str(), seconds,
                matcher ? static_cast<double>(matcher->Serialize().size()) / 1048576.0 : 0.0,
                usage.ru_maxrss / 1024);
    return matcher ? 0 : 1;
  }
  const auto start = std::chrono::steady_clock::now();
  hs_database_t* database = nullptr;
  hs_compile_error_t* error = nullptr;
  const hs_error_t status = hs_compile_multi(pointers.data(), flags.data(), ids.data(),
                                             static_cast<unsigned>(texts.size()), HS_MODE_STREAM,
                                             nullptr, &database, &error);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  size_t size = 0;
  if (status == HS_SUCCESS) hs_database_size(database, &size);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf("%s: %zu patterns, %s in %.1f s, database %.1f MiB, peak memory %ld MiB\n",
              mode.c_str(), texts.size(), status == HS_SUCCESS ? "compiled" : error->message,
              seconds, static_cast<double>(size) / 1048576.0, usage.ru_maxrss / 1024);
  return status == HS_SUCCESS ? 0 : 1;
}
