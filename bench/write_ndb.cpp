// Writes generated body signatures as a ClamAV .ndb file, for the speed run that gives the
// same patterns to clamscan and, imported, to quarnscan.
//
//   write_ndb COUNT FILE
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "bench/imported_signature_generator.h"
#include "imported/body_pattern.h"
#include "imported/offset_rule.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: write_ndb COUNT FILE\n");
    return 2;
  }
  const size_t count = std::strtoul(argv[1], nullptr, 10);
  std::ofstream out(argv[2]);
  for (const quarn::BodySignature& signature :
       quarn::bench::ImportedSignatureGenerator(20261207).Signatures(count)) {
    out << "Bench.Generated-" << signature.index << ':' << static_cast<int>(signature.target)
        << ':' << quarn::FormatOffsetRule(signature.offset) << ':'
        << quarn::FormatBodyPattern(signature.pattern) << '\n';
  }
  out.close();
  if (!out) {
    std::fprintf(stderr, "write_ndb: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
