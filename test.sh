#!/usr/bin/env bash
# Builds everything and runs every test: the release build with CTest, the tests that need
# no Qt again under AddressSanitizer and UndefinedBehaviorSanitizer, and a minute of each
# libFuzzer target from its seeds. Exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")"
source scripts/common.sh

quarn_stage "install packages" quarn_install_packages "${QUARN_PACKAGES[@]}"
quarn_stage "configure (release)" cmake --preset release
quarn_stage "build (release)" cmake --build --preset release -j "$(quarn_jobs)"
quarn_stage "test (release)" ctest --preset release -j "$(quarn_jobs)"
quarn_stage "configure (asan)" cmake --preset asan
quarn_stage "build (asan)" cmake --build --preset asan -j "$(quarn_jobs)"
quarn_stage "test (asan, no Qt)" ctest --preset asan -j "$(quarn_jobs)"
quarn_stage "configure (fuzz)" cmake --preset fuzz
quarn_stage "build (fuzz)" cmake --build --preset fuzz -j "$(quarn_jobs)"
quarn_stage "fuzz (60 s per target)" fuzz/run_fuzzers.sh build/fuzz 60
quarn_print_stage_times
