#!/usr/bin/env bash
# What archives cost a scan, with the same quarnscan binary and the cache warmed first:
#
#  1. Speed inside an archive: the same 2,000 files of the scan tree (bench/tree_sample.sh
#     picks them) scanned loose, in one stored ZIP and in one deflated ZIP, with one detection
#     thread (--jobs 1) and with two (--jobs 2), in one hyperfine run. Goals: the stored ZIP at
#     least 0.8 of the loose files' files per second with as many threads; the deflated ZIP
#     with two threads at least 1.6 times as fast as with one. For the deflated ZIP, `unzip -p`
#     of the same archive is timed beside it, for scale: what reading every entry whole costs
#     a packer of its own.
#  2. Memory: the peak resident size (/usr/bin/time %M) of a scan of a deflated ZIP of ten
#     90 MiB entries and 100,000 small ones, against a scan of one small file (the program
#     and its database). Goal: less than 64 MiB apart.
#
#   bench/run_archive_scan.sh [TREE_FOLDER]      (default /tmp/quarn-scan-tree)
#
# ARCHIVE_SCAN_RUNS (default 10) sets hyperfine's runs per command; QUARN_BUILD_DIR names
# another configured build tree (default build/release). Needs zip, unzip and /usr/bin/time.
# Exit status: 0 measured, 1 a step failed.
set -euo pipefail
export LC_ALL=C

cd "$(dirname "$0")/.."
source bench/tree_sample.sh
tree=${1:-/tmp/quarn-scan-tree}
tree=${tree%/}
runs=${ARCHIVE_SCAN_RUNS:-10}
build_dir=${QUARN_BUILD_DIR:-build/release}
bin=$build_dir/bin
sample_files=2000

fail() {
  echo "run_archive_scan: $*" >&2
  exit 1
}

[[ $runs =~ ^[1-9][0-9]*$ ]] || fail "ARCHIVE_SCAN_RUNS must be a positive whole number"
[[ -f $tree.complete ]] ||
  fail "$tree is not a finished scan tree: make it with bench/scan_tree/run_scan_tree.sh"
for tool in zip unzip hyperfine; do
  command -v "$tool" >/dev/null || fail "$tool is missing"
done
[[ -x /usr/bin/time ]] || fail "/usr/bin/time is missing (the time package)"
[[ -n ${QUARN_BUILD_DIR:-} ]] || cmake --preset release >/dev/null
cmake --build "$build_dir" --target quarnscan default_database >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
scan_command=("$bin/quarnscan" --settings "$work/settings.reg" --no-log --no-memory --json
  --data-dir "$build_dir/share/quarnexp" --jobs 1 --files all)
scan=${scan_command[*]}
scan2=${scan/--jobs 1/--jobs 2}

# The "scanned" and "incomplete" counters of a scan's summary event, checked before anything
# is timed: an archive that opened as an ordinary file would be timed as one file.
expect_scanned() {
  local wanted=$1 target=$2 counts
  counts=$("${scan_command[@]}" "$target" |
    sed -n 's/^{"event":"summary".*"scanned":\([0-9]*\).*"incomplete":\([0-9]*\).*/\1 \2/p')
  [[ $counts == "$wanted 0" ]] ||
    fail "a scan of $target gave scanned/incomplete '$counts', not '$wanted 0'"
}

# --- 1. The same files loose and in ZIPs ------------------------------------------------------
write_tree_sample "$tree" "$sample_files" "$work" || fail "the sample cannot be taken"
mkdir "$work/loose" "$work/stored" "$work/deflated"
(cd "$tree" && tr '\n' '\0' <"$work/sample.txt" | xargs -0 cp --parents -t "$work/loose")
(cd "$work/loose" && zip -qr0 "$work/stored/SAMPLE.ZIP" . && zip -qr "$work/deflated/SAMPLE.ZIP" .)
for folder in loose stored deflated; do expect_scanned "$sample_files" "$work/$folder"; done
echo "Cores seen: $(nproc); load: $(uptime | sed 's/.*load average/load average/')"
echo "Sample: $sample_files files, $(du -sm "$work/loose" | cut -f1) MiB loose," \
  "$(du -sm "$work/deflated" | cut -f1) MiB deflated"
hyperfine --shell=none --warmup 2 --runs "$runs" --style basic \
  --export-csv "$work/times.csv" \
  --command-name loose "$scan $work/loose" \
  --command-name stored "$scan $work/stored" \
  --command-name deflated "$scan $work/deflated" \
  --command-name loose-2 "$scan2 $work/loose" \
  --command-name stored-2 "$scan2 $work/stored" \
  --command-name deflated-2 "$scan2 $work/deflated" \
  --command-name inflate-only "unzip -p $work/deflated/SAMPLE.ZIP"
echo "Load after: $(uptime | sed 's/.*load average/load average/')"
median() { awk -F, -v name="$1" '$1 == name { print $4 }' "$work/times.csv"; }
awk -v loose="$(median loose)" -v stored="$(median stored)" -v deflated="$(median deflated)" \
  -v loose2="$(median loose-2)" -v stored2="$(median stored-2)" \
  -v deflated2="$(median deflated-2)" -v inflate="$(median inflate-only)" 'BEGIN {
    printf "stored ZIP: %.2f of the loose files per second with --jobs 1, %.2f with --jobs 2 (goal: at least 0.80)\n",
      loose / stored, loose2 / stored2
    printf "deflated ZIP: %.2f times as fast with --jobs 2 as with --jobs 1 (goal: at least 1.60)\n",
      deflated / deflated2
    printf "deflated ZIP: %.2f of the loose files per second; unzip -p of it takes %.2f times as long\n",
      loose / deflated, inflate / deflated }'

# --- 2. Peak memory of a large archive -------------------------------------------------------
mkdir "$work/big" "$work/big/small" "$work/memory"
# Compressible but not trivially (no entry may trip the ratio limit).
head -c $((68 * 1024 * 1024)) /dev/urandom | base64 -w 76 >"$work/big/ENTRY0.BIN"
truncate -s 90M "$work/big/ENTRY0.BIN"
for i in 1 2 3 4 5 6 7 8 9; do ln "$work/big/ENTRY0.BIN" "$work/big/ENTRY$i.BIN"; done
(cd "$work/big/small" && seq 1 100000 | split -l 1 -a 5 -d --additional-suffix=.TXT - S)
(cd "$work/big" && zip -qr "$work/memory/LARGE.ZIP" . -i '*.BIN' -i 'small/*')
rm -rf "$work/big"
echo "text" >"$work/one.txt"
peak() { /usr/bin/time -f %M "${scan_command[@]}" "$@" 2>&1 >/dev/null | tail -1; }
baseline=$(peak "$work/one.txt")
large=$(peak --max-entries 200000 "$work/memory/LARGE.ZIP")
echo "Peak resident: $((baseline / 1024)) MiB for one small file," \
  "$((large / 1024)) MiB for ten 90 MiB entries and 100,000 small ones, deflated:" \
  "$(((large - baseline) / 1024)) MiB above (goal: under 64)"
