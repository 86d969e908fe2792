#!/usr/bin/env bash
# What disk images cost a scan, in three measurements with the same quarnscan binary, one
# detection thread (--jobs 1) and the cache warmed first:
#
#  1. Speed inside an image: the same 2,000 files of the scan tree (its few files over 1 MiB,
#     whose ends inside an image are reached by walking long cluster chains, and every N-th
#     of the others in name order, so programs, documents, drivers and data stay mixed as in
#     the tree, their folders kept) scanned as a folder on the host and inside a hard-disk
#     image in a folder on the same file system, in one hyperfine run. The image is
#     partitioned as a hard disk from an emulator is: an MBR with one FAT16 partition at
#     sector 2048 (sfdisk, then mkfs.fat --offset), so the timed path goes through the
#     partition table as well as the FAT volume, as a hard-disk image met in a walk does.
#     Goal: inside the image at least 0.8 of the host's files per second.
#  2. Memory against volume size: the peak resident size (/usr/bin/time %M) of a scan of an
#     image of 32 MiB (FAT16) and of one of 2 GiB (FAT32: FAT16 cannot hold 2 GiB), both
#     partitioned as above and holding the same 20 files of the sample, taken from all its
#     folder depths (a folder being walked keeps its chain open); the big one is a sparse
#     file, so only what mkfs.fat and mcopy write takes disk space. The reader keeps a bit
#     per cluster for each chain it follows, so the 2 GiB image is measured twice: with the
#     clusters mkfs.fat picks (4 KiB) and with 512-byte ones, the most clusters 2 GiB can
#     have. Goal: each differs from the 32 MiB image by less than 8 MiB.
#  3. What opening containers costs the program-files scan: the whole scan tree with
#     --files exe, --containers none (the scan as it was before images were opened) against
#     the default, in one hyperfine run. No tree file is a container, so this is the price of
#     asking each file; the ratio is reported, the contract wants the speed kept.
#
#   bench/run_image_scan.sh [TREE_FOLDER]      (default /tmp/quarn-scan-tree)
#
# The tree is the one bench/scan_tree/run_scan_tree.sh makes (run that first). IMAGE_SCAN_RUNS
# (default 30; the 2,000-file scans take tens of milliseconds) sets hyperfine's runs per
# command; QUARN_BUILD_DIR names another configured build tree (default build/release,
# configured by its preset). Needs mkfs.fat, mcopy, sfdisk and /usr/bin/time. Ratios come
# from median times: on a shared machine a few runs are slowed by other work. The processor
# time printed beside them is less disturbed by that work, to tell load from a real change.
# Exit status: 0 measured, 1 a step failed.
set -euo pipefail
export LC_ALL=C

cd "$(dirname "$0")/.."
source bench/tree_sample.sh
source bench/disk_images.sh
tree=${1:-/tmp/quarn-scan-tree}
tree=${tree%/}
runs=${IMAGE_SCAN_RUNS:-30}
build_dir=${QUARN_BUILD_DIR:-build/release}
bin=$build_dir/bin
sample_files=2000
few_files=20

fail() {
  echo "run_image_scan: $*" >&2
  exit 1
}

[[ $runs =~ ^[1-9][0-9]*$ ]] || fail "IMAGE_SCAN_RUNS must be a positive whole number"
[[ -f $tree.complete ]] ||
  fail "$tree is not a finished scan tree: make it with bench/scan_tree/run_scan_tree.sh"
for tool in mkfs.fat mcopy sfdisk; do
  command -v "$tool" >/dev/null || fail "$tool is missing (dosfstools, mtools, fdisk)"
done
[[ -x /usr/bin/time ]] || fail "/usr/bin/time is missing (the time package)"
if ! command -v hyperfine >/dev/null; then
  source scripts/common.sh
  quarn_install_packages hyperfine
fi
[[ -n ${QUARN_BUILD_DIR:-} ]] || cmake --preset release >/dev/null
cmake --build "$build_dir" --target quarnscan default_database

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A scan's own settings store, so the runs neither read nor change the user's; quarnscan
# makes it on the first run.
scan_command=("$bin/quarnscan" --settings "$work/settings.reg" --no-log --no-memory --json
  --data-dir "$build_dir/share/quarnexp" --jobs 1)
scan=${scan_command[*]}

# Every file of the sample and the wanted counters checked before anything is timed: an image
# that opened as an ordinary file would otherwise be timed as one file.
expect_scanned() {
  local wanted=$1 target=$2
  local counts
  counts=$("${scan_command[@]}" --files all "$target" | summary_counts)
  [[ $counts == "$wanted 0" ]] ||
    fail "a scan of $target gave scanned/incomplete '$counts', not '$wanted 0'"
}

# --- 1. The same files on the host and inside an image --------------------------------------
write_tree_sample "$tree" "$sample_files" "$work" || fail "the sample cannot be taken"
mkdir "$work/host" "$work/image" "$work/few" "$work/small" "$work/large" "$work/large_512"
(cd "$tree" && tr '\n' '\0' <"$work/sample.txt" | xargs -0 cp --parents -t "$work/host")
# Small files only: all of them fit the 32 MiB image.
(cd "$tree" && grep -vxF -f "$work/big.txt" "$work/sample.txt" |
  awk -v stride=$((sample_files / few_files)) 'NR % stride == 1' |
  tr '\n' '\0' | xargs -0 cp --parents -t "$work/few")

# Room for the files with half as much again for cluster slack and folders; FAT16 ends at 2 GiB.
sample_kib=$(du -sk "$work/host" | cut -f1)
image_mib=$((sample_kib * 3 / 2 / 1024 + 32))
((image_mib < 2048)) || fail "the sample needs a $image_mib MiB image, more than FAT16 holds"
make_hard_disk_image "$work/image/HD.IMG" "$image_mib" 6 "$work/host" -F 16
expect_scanned "$sample_files" "$work/host"
expect_scanned "$sample_files" "$work/image"

echo "Cores seen: $(nproc); load: $(uptime | sed 's/.*load average/load average/')"
echo "Sample: $sample_files files, $((sample_kib / 1024)) MiB, in a $image_mib MiB FAT16 image"
hyperfine --shell=none --warmup 3 --runs "$runs" --style basic \
  --export-csv "$work/image_times.csv" \
  --command-name host "$scan --files all $work/host" \
  --command-name image "$scan --files all $work/image"

# --- 2. Peak memory against the volume's size -----------------------------------------------
make_hard_disk_image "$work/small/HD.IMG" 32 6 "$work/few" -F 16
make_hard_disk_image "$work/large/HD.IMG" 2048 c "$work/few" -F 32
make_hard_disk_image "$work/large_512/HD.IMG" 2048 c "$work/few" -F 32 -s 1
peak_kib() {
  expect_scanned "$few_files" "$1"
  /usr/bin/time -f %M -o "$work/peak" "${scan_command[@]}" --files all "$1" >/dev/null
  cat "$work/peak"
}
peak_host=$(peak_kib "$work/few")
peak_small=$(peak_kib "$work/small")
peak_large=$(peak_kib "$work/large")
peak_large_512=$(peak_kib "$work/large_512")

# --- 3. The program-files scan with and without containers ----------------------------------
hyperfine --shell=none --warmup 1 --runs "$runs" --style basic \
  --export-csv "$work/filter_times.csv" \
  --command-name exe_containers_none "$scan --files exe --containers none $tree" \
  --command-name exe_containers_default "$scan --files exe $tree"

echo
echo "Load after the runs: $(uptime | sed 's/.*load average/load average/')"
awk -F, '
  FNR > 1 { median[$1] = $4; least[$1] = $7; cpu[$1] = $5 + $6 }
  function line(name) {
    printf "%-24s median %.4f s  min %.4f s  (mean user+system %.4f s)\n", name, median[name],
      least[name], cpu[name]
  }
  END {
    line("host"); line("image")
    ratio = median["host"] / median["image"]
    printf "image files per second: %.2f of the host'\''s (goal 0.80: %s)\n", ratio,
      (ratio >= 0.8 ? "met" : "NOT met")
    line("exe_containers_none"); line("exe_containers_default")
    printf "--files exe with containers: %.3f of the speed without\n",
      median["exe_containers_none"] / median["exe_containers_default"]
  }' "$work/image_times.csv" "$work/filter_times.csv"

echo "peak memory, $few_files files on the host: $peak_host KiB"
# Resident size against the 32 MiB image's, with the image's disk use to show it stayed sparse.
report_peak() {
  local label=$1 peak=$2 image=$3
  local difference=$((peak - peak_small))
  local verdict="NOT met"
  ((difference < 8192 && difference > -8192)) && verdict=met
  printf "peak memory, %-30s %6d KiB  (%d KiB on disk; %+d KiB, goal under 8192: %s)\n" \
    "$label:" "$peak" "$(du -k "$image" | cut -f1)" "$difference" "$verdict"
}
report_peak "32 MiB FAT16 image" "$peak_small" "$work/small/HD.IMG"
report_peak "2 GiB FAT32 image" "$peak_large" "$work/large/HD.IMG"
report_peak "2 GiB FAT32, 512-byte clusters" "$peak_large_512" "$work/large_512/HD.IMG"
