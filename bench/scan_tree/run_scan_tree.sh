#!/usr/bin/env bash
# Scan speed over a whole folder tree: quarnscan against raw_walk, the bare walk with the
# open, three small reads and close that every file costs at least. Builds the three
# programs in the release tree, generates the tree once (later runs reuse it), warms the
# page cache, then times each program several times and keeps the best run.
#
#   bench/scan_tree/run_scan_tree.sh [TREE_FOLDER]      (default /tmp/quarn-scan-tree)
#
# SCAN_TREE_FILES (default 20000) sets the tree's size, SCAN_TREE_RUNS (default 3) the runs
# per program. QUARN_BUILD_DIR names another build tree, already configured, to take the
# programs from (default build/release, configured by its preset). The goals: quarnscan with
# one detection thread at 0.7 of raw_walk's files per second, with two at 1.2. It also prints
# the cores the machine offers and the peak memory of one more quarnscan run.
# Exit status: 0 measured, 1 a step failed, 2 quarnscan is not built yet.
set -euo pipefail
export LC_ALL=C

cd "$(dirname "$0")/../.."
tree=${1:-/tmp/quarn-scan-tree}
tree=${tree%/}
file_count=${SCAN_TREE_FILES:-20000}
runs=${SCAN_TREE_RUNS:-3}
# Beside the tree rather than in it, so the tree holds exactly the generated files; written
# only after a generation finished, so an interrupted one is never taken for a whole tree.
stamp="$tree.complete"
build_dir=${QUARN_BUILD_DIR:-build/release}
bin=$build_dir/bin

fail() {
  echo "run_scan_tree: $*" >&2
  exit 1
}

[[ -n $tree ]] || fail "the tree cannot be the root folder"
[[ $file_count =~ ^[0-9]+$ ]] || fail "SCAN_TREE_FILES must be a whole number"
[[ $runs =~ ^[1-9][0-9]*$ ]] || fail "SCAN_TREE_RUNS must be a positive whole number"

# quarnscan is still being written: build it when the build knows it, and carry on to the
# raw_walk figures either way.
[[ -n ${QUARN_BUILD_DIR:-} ]] || cmake --preset release >/dev/null
targets=$(cmake --build "$build_dir" --target help)
if grep -q '^quarnscan:' <<<"$targets"; then
  cmake --build "$build_dir" --target scan_tree_gen raw_walk peak_memory quarnscan
else
  cmake --build "$build_dir" --target scan_tree_gen raw_walk peak_memory
fi

# A tree is reused only when it was made with this size by this very generator: a change to
# the generator's code changes the files it writes.
generator_sum=$(sha256sum <"$bin/scan_tree_gen")
wanted="files=$file_count generator=${generator_sum%% *}"
if [[ -d $tree && -f $stamp && $(<"$stamp") == "$wanted" ]]; then
  echo "Reusing the tree in $tree ($file_count files)"
else
  if [[ -f $stamp ]]; then
    # The stamp says this folder is a tree an earlier run made, so it may go.
    echo "Removing the tree in $tree: made with another size or generator"
    rm -f "$stamp"
    rm -rf -- "$tree"
  elif [[ -d $tree && -n $(ls -A "$tree") ]]; then
    fail "$tree holds files that are not a finished tree of $file_count files;" \
      "remove it or name another folder"
  fi
  echo "Generating $file_count files in $tree"
  "$bin/scan_tree_gen" --files "$file_count" "$tree"
  echo "$wanted" >"$stamp"
fi

# best_of COMMAND...: runs the command $runs times and prints the shortest wall time in
# seconds. Stops the script when the command fails.
best_of() {
  local best="" start end status
  for ((run = 1; run <= runs; run++)); do
    start=$EPOCHREALTIME # microseconds, and no process started to read the clock
    status=0
    "$@" >/dev/null || status=$?
    end=$EPOCHREALTIME
    if ((status != 0)); then
      if [[ $1 == "$bin/quarnscan" && $status -eq 1 ]]; then
        fail "quarnscan reported a finding in $tree, which should be clean; run it without" \
          "--json to see what"
      fi
      fail "$1 failed (exit $status)"
    fi
    best=$(awk -v a="$start" -v b="$end" -v best="$best" \
      'BEGIN { t = b - a; if (best != "" && best < t) t = best; printf "%.4f", t }')
  done
  echo "$best"
}

echo "Cores seen: $(nproc) (figures from a machine shared with other work are noisy)"
echo "Warming the cache"
walked=$("$bin/raw_walk" "$tree")
files=$(sed -n 's/^files=\([0-9]*\) .*/\1/p' <<<"$walked")
[[ -n $files && $files -gt 0 ]] || fail "raw_walk found no files in $tree"

raw_seconds=$(best_of "$bin/raw_walk" "$tree")
rate() { awk -v n="$files" -v t="$1" 'BEGIN { printf "%.0f", (t > 0 ? n / t : 0) }'; }
printf 'raw_walk   %6d files  %7.3f s  %8d files/s  (best of %d)\n' \
  "$files" "$raw_seconds" "$(rate "$raw_seconds")" "$runs"

if [[ ! -x $bin/quarnscan ]]; then
  echo "run_scan_tree: $bin/quarnscan is not built (the build has no quarnscan target yet);" \
    "no comparison made" >&2
  exit 2
fi

# One detection thread, then as many as the machine has cores (at least 2): the goals are
# 0.7 and, with two cores really there, 1.2 times the bare walk's files per second.
jobs_many=$(($(nproc) > 2 ? $(nproc) : 2))
for jobs in 1 "$jobs_many"; do
  scan_seconds=$(best_of "$bin/quarnscan" --no-log --no-memory --json --files all --jobs "$jobs" "$tree")
  printf 'quarnscan --jobs %-2s %6d files  %7.3f s  %8d files/s  (best of %d)\n' \
    "$jobs" "$files" "$scan_seconds" "$(rate "$scan_seconds")" "$runs"
  goal=$([[ $jobs == 1 ]] && echo 0.7 || echo 1.2)
  awk -v raw="$raw_seconds" -v scan="$scan_seconds" -v goal="$goal" -v jobs="$jobs" 'BEGIN {
    ratio = (scan > 0 ? raw / scan : 0)
    printf "  files/s quarnscan/raw_walk  %.2f  (goal %.1f with --jobs %s: %s)\n", ratio, goal, jobs, (ratio >= goal ? "met" : "NOT met")
  }'
done

# Peak memory of one more scan: GNU time when it is there, else the small wrapper that asks
# getrusage for its child's largest resident set. The scan's own status is not judged here.
scan=("$bin/quarnscan" --no-log --no-memory --json --files all "$tree")
report=$(mktemp)
trap 'rm -f "$report"' EXIT
if /usr/bin/time -f '%M' -o "$report" true 2>/dev/null; then
  /usr/bin/time -v -o "$report" "${scan[@]}" >/dev/null 2>&1 || true
  peak_kib=$(sed -n 's/^[[:space:]]*Maximum resident set size (kbytes): \([0-9]*\)$/\1/p' "$report")
else
  peak_kib=$("$bin/peak_memory" "${scan[@]}" 2>/dev/null) || true
fi
[[ -n $peak_kib ]] || fail "the peak memory of quarnscan could not be measured"
printf 'quarnscan peak memory  %d KiB\n' "$peak_kib"
