#!/usr/bin/env bash
# What asking whether each file is a container costs a scan with --files all: quarnscan with
# containers on (the default) and with --containers none, one detection thread and two,
# against raw_walk (the bare walk), over the scan tree, all in one hyperfine run with the
# cache warmed first. With BEFORE_QUARNSCAN naming the quarnscan of an earlier build (copied
# aside, since it is run with this build's database), its four rows are measured in the same
# run, for a before/after table.
#
#   bench/run_container_check.sh [TREE_FOLDER]      (default /tmp/quarn-scan-tree)
#
# The tree is the one bench/scan_tree/run_scan_tree.sh makes (run that first).
# CONTAINER_CHECK_RUNS (default 10) sets hyperfine's runs per command; QUARN_BUILD_DIR names
# another configured build tree (default build/release). The goals: containers on at 0.95 of
# --containers none's speed or more with --jobs 1 and --jobs 2 alike, and --jobs 2 at 1.2 of
# raw_walk's. Exit status: 0 measured, 1 a step failed.
set -euo pipefail
export LC_ALL=C

cd "$(dirname "$0")/.."
tree=${1:-/tmp/quarn-scan-tree}
tree=${tree%/}
runs=${CONTAINER_CHECK_RUNS:-10}
build_dir=${QUARN_BUILD_DIR:-build/release}
bin=$build_dir/bin
before=${BEFORE_QUARNSCAN:-}

fail() {
  echo "run_container_check: $*" >&2
  exit 1
}

[[ $runs =~ ^[1-9][0-9]*$ ]] || fail "CONTAINER_CHECK_RUNS must be a positive whole number"
[[ -f $tree.complete ]] ||
  fail "$tree is not a finished scan tree: make it with bench/scan_tree/run_scan_tree.sh"
[[ -z $before || -x $before ]] || fail "BEFORE_QUARNSCAN is no program: $before"
command -v hyperfine >/dev/null || fail "hyperfine is missing"
[[ -n ${QUARN_BUILD_DIR:-} ]] || cmake --preset release >/dev/null
cmake --build "$build_dir" --target raw_walk quarnscan default_database

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
data=$build_dir/share/quarnexp
echo "Cores seen: $(nproc); load average: $(cut -d' ' -f1-3 /proc/loadavg)" \
  "(figures from a machine shared with other work are noisy)"

commands=(--command-name raw_walk "$bin/raw_walk $tree")
for side in before after; do
  program=$bin/quarnscan
  if [[ $side == before ]]; then
    [[ -n $before ]] || continue
    program=$before
  fi
  # A settings store of each side's own, so the runs neither read nor change the user's.
  scan="$program --settings $work/$side.reg --data-dir $data --no-log --no-memory --json --files all"
  for jobs in 1 2; do
    commands+=(--command-name "${side}_none_jobs$jobs" "$scan --containers none --jobs $jobs $tree")
    commands+=(--command-name "${side}_default_jobs$jobs" "$scan --jobs $jobs $tree")
  done
done
hyperfine -N --warmup 1 --runs "$runs" --style basic --export-csv "$work/times.csv" \
  "${commands[@]}" >/dev/null
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

# Shares of speed from the median times: on a shared machine a few runs are slowed by other
# work, which the mean would carry. The processor time (user and system, means) moves less
# with the machine's load: its share is printed beside.
awk -F, '
  NR > 1 { median[$1] = $4; cpu[$1] = $5 + $6 }
  function goal(value, wanted) { return value >= wanted ? "met" : "NOT met" }
  END {
    printf "%-8s %-6s %10s %10s %16s %16s %14s\n", "", "jobs", "none (s)", "default (s)",
      "default/none", "vs raw_walk", "cpu none/on"
    for (side = 0; side < 2; ++side) {
      name = side == 0 ? "before" : "after"
      if (!((name "_none_jobs1") in median)) continue
      for (jobs = 1; jobs <= 2; ++jobs) {
        none = name "_none_jobs" jobs
        on = name "_default_jobs" jobs
        share = median[none] / median[on]
        walk = median["raw_walk"] / median[on]
        printf "%-8s %-6d %10.3f %10.3f %8.2f %-9s %6.2f %-9s %8.2f\n", name, jobs, median[none],
          median[on], share, "(" goal(share, 0.95) ")", walk,
          (jobs == 2 ? "(" goal(walk, 1.2) ")" : ""), cpu[none] / cpu[on]
      }
    }
    printf "raw_walk %.3f s\n", median["raw_walk"]
  }' "$work/times.csv"
