#pragma once

#include <string>
#include <vector>

// Inputs a fuzz target starts from. Each target defines it; the standalone driver runs the
// seeds and deterministic mutations of them, libFuzzer ignores it.
std::vector<std::string> FuzzSeeds();
