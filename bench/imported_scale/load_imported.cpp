// load_imported FOLDER: loads FOLDER/QUARNX.DAT as the scanner does at start and prints how
// long it took and what it added to the process's memory: private (anonymous) pages, which
// every scanner process pays for itself, and pages of files, which the page cache shares
// between processes and may drop. Then times the size check every scanned file makes.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include "imported/imported_detector.h"
#include "platform/posix_folder.h"

namespace {

// A field of /proc/self/status in KiB ("RssAnon:     1234 kB").
uint64_t StatusKib(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::stoull(line.substr(field.size() + 1));
  }
  return 0;
}

double Mib(uint64_t after_kib, uint64_t before_kib) {
  return (static_cast<double>(after_kib) - static_cast<double>(before_kib)) / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: load_imported FOLDER\n");
    return 2;
  }
  std::unique_ptr<quarn::FileSystem> files = quarn::OpenPosixFileSystem();
  const uint64_t anonymous = StatusKib("RssAnon");
  const uint64_t mapped = StatusKib("RssFile");
  const auto start = std::chrono::steady_clock::now();
  auto loaded = quarn::LoadImportedSignatures(*files, argv[1]);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!loaded || !*loaded) {
    std::fprintf(stderr, "load_imported: %s\n",
                 loaded ? "no QUARNX.DAT there" : loaded.message().c_str());
    return 1;
  }
  std::printf("load %.3f s, private memory %+.1f MiB, file pages %+.1f MiB\n", seconds,
              Mib(StatusKib("RssAnon"), anonymous), Mib(StatusKib("RssFile"), mapped));

  const auto& signatures = dynamic_cast<const quarn::ImportedSignatures&>(**loaded);
  const quarn::ImportedDatabase& database = signatures.database();
  constexpr int kChecks = 1000000;
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> exponent(6.0, 23.0);
  int hits = 0;
  const auto checking = std::chrono::steady_clock::now();
  for (int check = 0; check < kChecks; ++check) {
    const auto size = static_cast<uint64_t>(std::exp2(exponent(random)));
    hits += database.HasHashOfSize(quarn::ImportedSignature::Kind::kFileHash, size) ? 1 : 0;
  }
  const double checked =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - checking).count();
  std::printf(
      "%d size checks: %.0f ns each, %d sizes with hashes; %u signatures, private "
      "memory now %+.1f MiB\n",
      kChecks, checked * 1e9 / kChecks, hits, database.size(),
      Mib(StatusKib("RssAnon"), anonymous));
  return 0;
}
