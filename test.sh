#!/usr/bin/env bash
# ./test.sh         builds the release tree and runs every test of it, then the tests it skipped
#                   as the other user: nobody when run as root, else root through sudo -n
#                   (budget: 6 minutes on a fresh clone of a 2-core machine, packages installed).
# ./test.sh --full  adds the clang tree instrumented with AddressSanitizer, UBSan and libFuzzer:
#                   the tests without Qt under the sanitizers, the daemon's load, fault and
#                   attack runs, the Debian packages made and checked, the named mutants (each
#                   must fail), then a short run of every fuzzer from its seeds (budget: 25
#                   minutes). This is what CI runs.
# Installs what is missing first, prints each stage's time and exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")"
source scripts/common.sh

full=0
case "${1:-}" in
  "") ;;
  --full) full=1 ;;
  -h | --help)
    sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
    ;;
  *)
    echo "test.sh: unknown option '$1' (try --help)" >&2
    exit 2
    ;;
esac

packages=("${QUARN_PACKAGES[@]}" "${QUARN_TEST_PACKAGES[@]}" "${QUARN_CONTAINER_TEST_PACKAGES[@]}")
[ $full -eq 1 ] && packages+=("${QUARN_FULL_TEST_PACKAGES[@]}")
quarn_stage "install packages" quarn_install_packages "${packages[@]}"
quarn_stage "configure (release)" cmake --preset release
quarn_stage "build (release)" cmake --build --preset release -j "$(quarn_jobs)"
quarn_stage "test (release)" ctest --preset release -j "$(quarn_jobs)"
quarn_stage "skipped tests, as the other user" scripts/run_skipped_as_other_user.py
budget=360
if [ $full -eq 1 ]; then
  budget=1500
  quarn_stage "configure (sanitize)" cmake --preset sanitize
  quarn_stage "build (sanitize)" cmake --build --preset sanitize -j "$(quarn_jobs)"
  quarn_stage "test (sanitize, no Qt)" ctest --preset sanitize -j "$(quarn_jobs)"
  quarn_stage "load (release, quarnd)" ctest --preset load
  quarn_stage "skipped load tests, as the other user" scripts/run_skipped_as_other_user.py load
  quarn_stage "packages (cpack, lintian, unpacked)" scripts/check_packages.sh build/release
  quarn_stage "configure (mutants)" cmake --preset mutants
  quarn_stage "build (mutants)" cmake --build --preset mutants -j "$(quarn_jobs)"
  quarn_stage "mutants (each must fail)" ctest --preset mutants -j "$(quarn_jobs)"
  quarn_stage "fuzz (${QUARN_FUZZ_SECONDS:-15} s per target)" \
    fuzz/run_fuzzers.sh build/sanitize "${QUARN_FUZZ_SECONDS:-15}"
fi
quarn_print_stage_times
quarn_report_budget "$budget"
