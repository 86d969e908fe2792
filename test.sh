#!/usr/bin/env bash
# Builds everything and runs every test: the release build with CTest, the tests that need
# no Qt again under AddressSanitizer and UndefinedBehaviorSanitizer, and a short run of each
# libFuzzer target. Exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")"
source scripts/common.sh

fuzz_smoke() {
  local target status=0
  for target in build/fuzz/bin/*_fuzz; do
    echo "--- $(basename "$target")"
    "$target" -runs=30000 -max_total_time=20 -max_len=8192 -seed=1 2>&1 | tail -n 2 || status=1
  done
  return $status
}

quarn_stage "install packages" quarn_install_packages "${QUARN_PACKAGES[@]}"
quarn_stage "configure (release)" cmake --preset release
quarn_stage "build (release)" cmake --build --preset release -j "$(quarn_jobs)"
quarn_stage "test (release)" ctest --preset release -j "$(quarn_jobs)"
quarn_stage "configure (asan)" cmake --preset asan
quarn_stage "build (asan)" cmake --build --preset asan -j "$(quarn_jobs)"
quarn_stage "test (asan, no Qt)" ctest --preset asan -j "$(quarn_jobs)"
quarn_stage "configure (fuzz)" cmake --preset fuzz
quarn_stage "build (fuzz)" cmake --build --preset fuzz -j "$(quarn_jobs)"
quarn_stage "fuzz (short runs)" fuzz_smoke
quarn_print_stage_times
