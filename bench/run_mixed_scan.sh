#!/usr/bin/env bash
# Scan speed with a grown database: quarnscan against raw_walk (the bare walk) over the scan
# tree, with K = 100 and K = 10,000 records of the mix detection_bench's mixed_K groups use
# (40% entry, 20% offset, 10% file-end, 23% pattern, 5% macro records), one detection thread
# and --jobs 2, all in one hyperfine run: the same binaries, the cache warmed first.
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

fail() {
  echo "run_mixed_scan: $*" >&2
  exit 1
}

[[ $runs =~ ^[1-9][0-9]*$ ]] || fail "MIXED_SCAN_RUNS must be a positive whole number"
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
# A settings store of its own, so the runs neither read nor change the user's; quarnscan
# makes it on the first run.

files=$(sed -n 's/^files=\([0-9]*\) .*/\1/p' <<<"$("$bin/raw_walk" "$tree")")
[[ -n $files && $files -gt 0 ]] || fail "raw_walk found no files in $tree"
echo "Cores seen: $(nproc) (figures from a machine shared with other work are noisy); $files files"

scan="$bin/quarnscan --settings $work/settings.reg --no-log --no-memory --json --files all"
hyperfine --warmup 1 --runs "$runs" --style basic --export-csv "$work/times.csv" \
  --command-name raw_walk "$bin/raw_walk $tree" \
  --command-name k100_jobs1 "$scan --data-dir $work/k100 --jobs 1 $tree" \
  --command-name k10000_jobs1 "$scan --data-dir $work/k10000 --jobs 1 $tree" \
  --command-name k100_jobs2 "$scan --data-dir $work/k100 --jobs 2 $tree" \
  --command-name k10000_jobs2 "$scan --data-dir $work/k10000 --jobs 2 $tree"

# Files per second as a share of another command's, from the median times: on a shared
# machine a few runs are slowed by other work, which the mean would carry.
awk -F, '
  NR > 1 { median[$1] = $4 }
  function share(name, of, goal, label) {
    ratio = median[of] / median[name]
    printf "%-14s %.3f s  %.2f of %s  (goal %.2f: %s)\n", name, median[name], ratio, label, goal,
      (ratio >= goal ? "met" : "NOT met")
  }
  END {
    printf "raw_walk       %.3f s\n", median["raw_walk"]
    share("k100_jobs1", "raw_walk", 0.7, "raw_walk")
    share("k10000_jobs1", "raw_walk", 0.7, "raw_walk")
    share("k10000_jobs2", "k100_jobs2", 0.95, "k100_jobs2")
  }' "$work/times.csv"
