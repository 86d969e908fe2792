#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# scripts/coverage.sh [BUILD_DIR]: line and branch coverage of the release suite (the tests
# ./test.sh runs, without the mutants, whose programs fail on purpose), per top folder and in
# all, as gcovr counts them over the production code (tests, test support, samples, fuzzers
# and benchmarks left out). Builds its own tree (default build/coverage, -O0 --coverage;
# the counters are updated atomically, as the scan runs on several threads).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
build="${1:-build/coverage}"
quarn_install_packages "${QUARN_PACKAGES[@]}" "${QUARN_TEST_PACKAGES[@]}" \
  "${QUARN_CONTAINER_TEST_PACKAGES[@]}" gcovr
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUARN_WITH_QT=ON \
  -DCMAKE_CXX_FLAGS="-O0 --coverage -fprofile-update=atomic" \
  -DCMAKE_C_FLAGS="-O0 --coverage -fprofile-update=atomic" \
  -DCMAKE_EXE_LINKER_FLAGS=--coverage >/dev/null
cmake --build "$build" -j "$(quarn_jobs)"
find "$build" -name '*.gcda' -delete
# Notes of objects the build no longer makes (a file moved or removed since the tree was
# last built) describe old sources, and gcovr cannot merge them with the new ones.
(cd "$build" && ninja -t targets all | sed -n 's/^\(.*\)\.o: .*/\1.gcno/p' | sort >keep.txt &&
  find . -name '*.gcno' | sed 's#^\./##' | sort | comm -23 - keep.txt | xargs -r rm -f &&
  rm -f keep.txt)
(cd "$build" && ctest -j "$(quarn_jobs)" -LE 'load|mutant' --output-on-failure) >&2
gcovr --root . --object-directory "$build" --json-summary "$build/coverage.json" \
  --exclude '.*_test\.cpp$' --exclude '.*/test_support/.*' --exclude '.*_test_support\.h$' \
  --exclude '(fuzz|bench|samplegen|tests|build)/.*' --exclude-unreachable-branches \
  --exclude-throw-branches --gcov-ignore-parse-errors >/dev/null
python3 - "$build/coverage.json" <<'PY'
import collections, json, sys
files = json.load(open(sys.argv[1]))["files"]
totals = collections.defaultdict(lambda: [0, 0, 0, 0])
for entry in files:
    top = entry["filename"].split("/")[0] if "/" in entry["filename"] else "."
    for key in (top, "all"):
        t = totals[key]
        t[0] += entry["line_covered"]; t[1] += entry["line_total"]
        t[2] += entry["branch_covered"]; t[3] += entry["branch_total"]
print(f"{'folder':<12} {'lines':>15} {'line %':>7} {'branches':>15} {'branch %':>8}")
for key in sorted(totals, key=lambda k: (k == "all", k)):
    lc, lt, bc, bt = totals[key]
    print(f"{key:<12} {lc:>7}/{lt:<7} {100 * lc / max(lt, 1):>7.1f} {bc:>7}/{bt:<7} "
          f"{100 * bc / max(bt, 1):>8.1f}")
PY
