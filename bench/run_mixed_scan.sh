#!/usr/bin/env bash
# Scan speed with a grown database: quarnscan against raw_walk (the bare walk) over the scan
# tree, with K = 100 and K = 10,000 records of the mix detection_bench's mixed_K groups use
# (40% entry, 20% offset, 10% file-end, 23% pattern, 5% macro records), one detection thread
# and --jobs 2, all in one hyperfine run: the same binaries, the cache warmed first. With
# BEFORE_QUARNSCAN naming the quarnscan of an earlier build (copied aside), its four rows are
# measured in the same run, for a before/after table. With MIXED_SCAN_INSTRUCTIONS=1, each
# side's one-thread scans with --containers none are also counted in instructions under
# callgrind, which the machine's load does not move.
#
#   bench/run_mixed_scan.sh [TREE_FOLDER]      (default /tmp/quarn-scan-tree)
#
# The tree is the one bench/scan_tree/run_scan_tree.sh makes (run that first; SCAN_TREE_FILES
# sets its size there). MIXED_SCAN_RUNS (default 10) sets hyperfine's runs per command;
# QUARN_BUILD_DIR names another configured build tree (default build/release, configured by
# its preset). The goals: with 10,000 records, quarnscan with one thread at 0.7 of raw_walk's
# files per second or more, and --jobs 2 at 0.95 of its own speed with 100 records or more.
# Exit status: 0 measured, 1 a step failed.
set -euo pipefail
export LC_ALL=C

cd "$(dirname "$0")/.."
tree=${1:-/tmp/quarn-scan-tree}
tree=${tree%/}
runs=${MIXED_SCAN_RUNS:-10}
build_dir=${QUARN_BUILD_DIR:-build/release}
bin=$build_dir/bin
before=${BEFORE_QUARNSCAN:-}

fail() {
  echo "run_mixed_scan: $*" >&2
  exit 1
}

[[ $runs =~ ^[1-9][0-9]*$ ]] || fail "MIXED_SCAN_RUNS must be a positive whole number"
[[ -z $before || -x $before ]] || fail "BEFORE_QUARNSCAN is no program: $before"
[[ -f $tree.complete ]] ||
  fail "$tree is not a finished scan tree: make it with bench/scan_tree/run_scan_tree.sh"
if ! command -v hyperfine >/dev/null; then
  source scripts/common.sh
  quarn_install_packages hyperfine
fi
[[ -n ${QUARN_BUILD_DIR:-} ]] || cmake --preset release >/dev/null
cmake --build "$build_dir" --target raw_walk quarnscan write_mixed_database

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for records in 100 10000; do
  "$bin/write_mixed_database" "$records" "$work/k$records"
done
files=$(sed -n 's/^files=\([0-9]*\) .*/\1/p' <<<"$("$bin/raw_walk" "$tree")")
[[ -n $files && $files -gt 0 ]] || fail "raw_walk found no files in $tree"
echo "Cores seen: $(nproc) (figures from a machine shared with other work are noisy); $files files"

commands=(--command-name raw_walk "$bin/raw_walk $tree")
sides=(after)
[[ -z $before ]] || sides=(before after)
program_of() { if [[ $1 == before ]]; then echo "$before"; else echo "$bin/quarnscan"; fi; }
for side in "${sides[@]}"; do
  # A settings store of each side's own, so the runs neither read nor change the user's.
  scan="$(program_of "$side") --settings $work/$side.reg --no-log --no-memory --json --files all"
  for jobs in 1 2; do
    for records in 100 10000; do
      commands+=(--command-name "${side}_k${records}_jobs$jobs"
        "$scan --data-dir $work/k$records --jobs $jobs $tree")
    done
  done
done
echo "Load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
hyperfine -N --warmup 1 --runs "$runs" --style basic --export-csv "$work/times.csv" \
  "${commands[@]}" >/dev/null
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

# Files per second as a share of another command's, from the median times: on a shared
# machine a few runs are slowed by other work, which the mean would carry. The processor time
# (user and system, means) moves less with the machine's load: k100's share of k10000's is
# printed beside, for one thread and two.
awk -F, '
  NR > 1 { median[$1] = $4; cpu[$1] = $5 + $6 }
  function goal(ratio, wanted) { return ratio >= wanted ? "met" : "NOT met" }
  END {
    printf "%-7s %10s %10s %10s %10s %20s %20s %14s\n", "", "k100 j1", "k10000 j1", "k100 j2",
      "k10000 j2", "k10000 j1/raw_walk", "k10000 j2/k100 j2", "cpu j1 / j2"
    for (side = 0; side < 2; ++side) {
      name = side == 0 ? "before" : "after"
      if (!((name "_k100_jobs1") in median)) continue
      walk = median["raw_walk"] / median[name "_k10000_jobs1"]
      flat = median[name "_k100_jobs2"] / median[name "_k10000_jobs2"]
      printf "%-7s %10.3f %10.3f %10.3f %10.3f %10.2f %-9s %10.2f %-9s %6.2f %6.2f\n", name,
        median[name "_k100_jobs1"], median[name "_k10000_jobs1"], median[name "_k100_jobs2"],
        median[name "_k10000_jobs2"], walk, "(" goal(walk, 0.7) ")", flat,
        "(" goal(flat, 0.95) ")", cpu[name "_k100_jobs1"] / cpu[name "_k10000_jobs1"],
        cpu[name "_k100_jobs2"] / cpu[name "_k10000_jobs2"]
    }
    printf "raw_walk %.3f s\n", median["raw_walk"]
  }' "$work/times.csv"

[[ ${MIXED_SCAN_INSTRUCTIONS:-0} == 1 ]] || exit 0
command -v valgrind >/dev/null || fail "valgrind is missing"
echo "Instructions, one thread, --containers none (millions):"
for side in "${sides[@]}"; do
  counts=()
  for records in 100 10000; do
    valgrind --tool=callgrind --callgrind-out-file="$work/callgrind.out" \
      "$(program_of "$side")" --settings "$work/$side.reg" --no-log --no-memory --json \
      --files all --containers none --jobs 1 --data-dir "$work/k$records" "$tree" \
      >/dev/null 2>"$work/callgrind.log" || fail "callgrind failed: $(tail -1 "$work/callgrind.log")"
    counts+=("$(sed -n 's/.*refs: *\([0-9,]*\).*/\1/p' "$work/callgrind.log" | tr -d ,)")
  done
  awk -v side="$side" -v k100="${counts[0]}" -v k10000="${counts[1]}" 'BEGIN {
    printf "%-7s k100 %8.1f  k10000 %8.1f  k10000 over k100 %+7.1f  k100/k10000 %.2f\n",
      side, k100 / 1e6, k10000 / 1e6, (k10000 - k100) / 1e6, k100 / k10000 }'
done
