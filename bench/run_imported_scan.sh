#!/usr/bin/env bash
# A scan with imported signatures over the whole scan tree (bench/scan_tree/run_scan_tree.sh
# makes it: 20,000 files), with 10,000 generated body signatures mixed as a real database
# mixes them (bench/imported_signature_generator.cpp: anywhere, absolute offsets, EOF-n,
# EP+n and sections on PE files, compound-document streams), in one hyperfine run with the
# cache warmed:
#
#   cat                  every file of the tree read once (find -exec cat): the floor
#   quarnscan-imported   quarnscan with QUARNX.DAT imported from the .ndb by quarndb
#   quarnscan-jobs1      the same with one detection thread
#   quarnscan-plain      quarnscan without QUARNX.DAT
#   clamscan             clamscan -d with the same .ndb
#
# Goals: quarnscan-imported at least 10 times clamscan's files per second and at least half
# of cat's; quarnscan-plain as fast as before (compare with run_scan_tree.sh's figure).
#
#   bench/run_imported_scan.sh [TREE_FOLDER]      (default /tmp/quarn-scan-tree)
#
# IMPORTED_SCAN_RUNS (default 3) sets hyperfine's runs per command, IMPORTED_SCAN_SIGNATURES
# (default 10000) the signatures; QUARN_BUILD_DIR names another configured build tree
# (default build/release). Needs hyperfine and clamscan. Exit status: 0 measured, 1 a step
# failed.
set -euo pipefail
export LC_ALL=C

cd "$(dirname "$0")/.."
tree=${1:-/tmp/quarn-scan-tree}
tree=${tree%/}
runs=${IMPORTED_SCAN_RUNS:-3}
signatures=${IMPORTED_SCAN_SIGNATURES:-10000}
build_dir=${QUARN_BUILD_DIR:-build/release}
bin=$build_dir/bin

fail() {
  echo "run_imported_scan: $*" >&2
  exit 1
}

[[ $runs =~ ^[1-9][0-9]*$ ]] || fail "IMPORTED_SCAN_RUNS must be a positive whole number"
[[ $signatures =~ ^[1-9][0-9]*$ ]] || fail "IMPORTED_SCAN_SIGNATURES must be a positive number"
[[ -f $tree.complete ]] ||
  fail "$tree is not a finished scan tree: make it with bench/scan_tree/run_scan_tree.sh"
for tool in hyperfine clamscan; do
  command -v "$tool" >/dev/null || fail "$tool is missing"
done
[[ -n ${QUARN_BUILD_DIR:-} ]] || cmake --preset release >/dev/null
cmake --build "$build_dir" --target quarnscan quarndb write_ndb default_database >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/clamav" "$work/imported" "$work/plain"
"$bin/write_ndb" "$signatures" "$work/clamav/generated.ndb"
for data in imported plain; do
  cp "$build_dir/share/quarnexp/QUARN.DAT" "$build_dir/share/quarnexp/NAMEVIR.DAT" "$work/$data"
done
"$bin/quarndb" import-clamav "$work/clamav" -o "$work/imported" >"$work/import.txt" ||
  fail "the import failed: $(cat "$work/import.txt")"
head -1 "$work/import.txt"

files=$(find "$tree" -type f | wc -l)
scan() { echo "$bin/quarnscan --settings $work/settings.reg --no-log --no-memory --json --files all --data-dir $work/$1 ${2:-} $tree"; }
# Findings are expected now and then (a generated pattern may occur in the tree) and are
# counted, not treated as failures.
flagged_quarnscan=$($(scan imported) | grep -c '"event":"detection"' || true)
flagged_clamscan=$(clamscan --no-summary --infected -r -d "$work/clamav" "$tree" | grep -c ' FOUND$' || true)
echo "Cores seen: $(nproc); load: $(uptime | sed 's/.*load average/load average/')"
echo "Tree: $files files, $(du -sm "$tree" | cut -f1) MiB; flagged: quarnscan $flagged_quarnscan, clamscan $flagged_clamscan"

hyperfine --warmup 1 --runs "$runs" --style basic --ignore-failure --export-csv "$work/times.csv" \
  --command-name cat "find $tree -type f -exec cat {} + >/dev/null" \
  --command-name quarnscan-imported "$(scan imported)" \
  --command-name quarnscan-jobs1 "$(scan imported '--jobs 1')" \
  --command-name quarnscan-plain "$(scan plain)" \
  --command-name clamscan "clamscan --no-summary -r -d $work/clamav $tree"
median() { awk -F, -v name="$1" '$1 == name { print $4 }' "$work/times.csv"; }
awk -v files="$files" -v cat="$(median cat)" -v imported="$(median quarnscan-imported)" \
  -v one="$(median quarnscan-jobs1)" -v plain="$(median quarnscan-plain)" \
  -v clam="$(median clamscan)" 'BEGIN {
    printf "files/s: cat %.0f, quarnscan %.0f (one thread %.0f), without QUARNX.DAT %.0f, clamscan %.0f\n",
      files / cat, files / imported, files / one, files / plain, files / clam
    printf "quarnscan/clamscan %.1f (goal: at least 10)\n", clam / imported
    printf "quarnscan/cat %.2f (goal: at least 0.50)\n", cat / imported
  }'
