#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The files the detection benchmark scans: one of each kind the detectors tell apart, built
// in code so every run scans the same bytes.
namespace quarn::bench {

struct BenchFile {
  std::string name;  // a single path component, also the benchmark's label for the kind
  std::vector<uint8_t> bytes;
};

// In order: a DOS EXE (MZ, no PE header), a PE image, a COM program entered by a near jump,
// 64 KiB of text, a Word document holding one macro, and 8 MiB of incompressible data that
// a detector reading whole files would show up on.
std::vector<BenchFile> MakeBenchFiles();

}  // namespace quarn::bench
