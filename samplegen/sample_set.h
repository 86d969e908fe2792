#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Harmless files made for this scanner: each one matches a test family of the default
// database (res/signatures/test_families.qsig), trips the heuristics, or is clean. None of
// them does anything when run; the code at every entry ends the program first.
namespace quarn::samples {

// What the whole detection stage answers for a sample, with the heuristics on.
struct ExpectedVerdict {
  uint32_t virus = 0;
  uint16_t variant = 0;
  bool suspicious = false;
};

// A partial match that a later step of the chain replaces never reaches the verdict; the
// probe names the section whose detector finds it and what that detector alone answers.
struct DetectorProbe {
  int section = 0;
  uint32_t virus = 0;
  uint16_t variant = 0;
};

struct Sample {
  std::string name;
  std::string description;
  std::vector<uint8_t> bytes;
  ExpectedVerdict expected;
  std::optional<DetectorProbe> probe;
  // For an infected sample that a cleaning record covers: the bytes a successful clean
  // leaves, the host the sample was made from.
  std::optional<std::vector<uint8_t>> host;
};

// VirusIds of the test families.
inline constexpr uint32_t kExeEntryFamily = 900;
inline constexpr uint32_t kExeCallFamily = 901;
inline constexpr uint32_t kExeForwardFamily = 902;
inline constexpr uint32_t kExeBackwardFamily = 903;
inline constexpr uint32_t kExePatternFamily = 904;
inline constexpr uint32_t kPeEntryFamily = 910;
inline constexpr uint32_t kComTailParagraphFamily = 911;
inline constexpr uint32_t kComTailFamily = 912;
inline constexpr uint32_t kComEntryFamily = 913;
inline constexpr uint32_t kComCallFamily = 914;
inline constexpr uint32_t kComForwardFamily = 915;
inline constexpr uint32_t kComBackwardFamily = 916;
inline constexpr uint32_t kComEndFamily = 917;
inline constexpr uint32_t kComPatternFamily = 918;
inline constexpr uint32_t kWordMacroFamily = 919;
inline constexpr uint32_t kEicarFamily = 1;

std::vector<Sample> BuildExecutableSamples();
std::vector<Sample> BuildComSamples();
std::vector<Sample> BuildDocumentSamples();
// Every sample, executables first; names are unique.
std::vector<Sample> BuildSampleSet();

}  // namespace quarn::samples
