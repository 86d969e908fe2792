#!/usr/bin/env bash
# What a disk image wrapper costs a scan, with the same quarnscan binary, one detection thread
# (--jobs 1) and the cache warmed first:
#
#  1. Speed: the same 2,000 files of the scan tree (bench/tree_sample.sh) inside a partitioned
#     FAT16 raw image and inside its qemu-img conversions to a dynamic VHD (vpc), a monolithic
#     sparse VMDK and a QCOW2, in one hyperfine run. Goal: each wrapper at least 0.7 of the raw
#     image's files per second.
#  2. Memory: the peak resident size (/usr/bin/time %M) of a scan of a 2 GiB sparse FAT32 image
#     holding 20 of those files, raw and in each wrapper. Goal: each wrapper under 32 MiB above
#     the raw image's.
#
#   bench/run_wrapper_scan.sh [TREE_FOLDER]      (default /tmp/quarn-scan-tree)
#
# The tree is the one bench/scan_tree/run_scan_tree.sh makes (run that first).
# WRAPPER_SCAN_RUNS (default 20) sets hyperfine's runs per command; QUARN_BUILD_DIR names
# another configured build tree (default build/release). Needs mkfs.fat, mcopy, sfdisk,
# qemu-img and /usr/bin/time. Ratios come from median times; the processor time printed
# beside them tells load on a shared machine from a real change.
# Exit status: 0 measured, 1 a step failed.
set -euo pipefail
export LC_ALL=C

cd "$(dirname "$0")/.."
source bench/tree_sample.sh
source bench/disk_images.sh
tree=${1:-/tmp/quarn-scan-tree}
tree=${tree%/}
runs=${WRAPPER_SCAN_RUNS:-20}
build_dir=${QUARN_BUILD_DIR:-build/release}
bin=$build_dir/bin
sample_files=2000
few_files=20
# qemu-img's format name and the file name each wrapper is scanned under.
wrappers=("vpc HD.VHD" "vmdk HD.VMDK" "qcow2 HD.QCOW2")

fail() {
  echo "run_wrapper_scan: $*" >&2
  exit 1
}

[[ $runs =~ ^[1-9][0-9]*$ ]] || fail "WRAPPER_SCAN_RUNS must be a positive whole number"
[[ -f $tree.complete ]] ||
  fail "$tree is not a finished scan tree: make it with bench/scan_tree/run_scan_tree.sh"
for tool in mkfs.fat mcopy sfdisk qemu-img hyperfine; do
  command -v "$tool" >/dev/null || fail "$tool is missing (dosfstools, mtools, fdisk, qemu-utils, hyperfine)"
done
[[ -x /usr/bin/time ]] || fail "/usr/bin/time is missing (the time package)"
[[ -n ${QUARN_BUILD_DIR:-} ]] || cmake --preset release >/dev/null
cmake --build "$build_dir" --target quarnscan default_database

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

scan_command=("$bin/quarnscan" --settings "$work/settings.reg" --no-log --no-memory --json
  --data-dir "$build_dir/share/quarnexp" --jobs 1 --files all)
scan=${scan_command[*]}

# Every file counted and nothing left unread before anything is timed: a wrapper that opened
# as an ordinary file would otherwise be timed as one file.
expect_scanned() {
  local wanted=$1 target=$2 counts
  counts=$("${scan_command[@]}" "$target" | summary_counts)
  [[ $counts == "$wanted 0" ]] ||
    fail "a scan of $target gave scanned/incomplete '$counts', not '$wanted 0'"
}

# The raw image of RAW in a folder of its own, and each wrapper of it beside it in a folder of
# its own, under PREFIX: PREFIX/raw/HD.IMG, PREFIX/vpc/HD.VHD, …
wrap_all() {
  local raw=$1 prefix=$2
  for wrapper in "${wrappers[@]}"; do
    read -r format name <<<"$wrapper"
    mkdir -p "$prefix/$format"
    qemu-img convert -O "$format" "$raw" "$prefix/$format/$name"
  done
}

# --- 1. The same files raw and wrapped ------------------------------------------------------
write_tree_sample "$tree" "$sample_files" "$work" || fail "the sample cannot be taken"
mkdir -p "$work/host" "$work/few" "$work/speed/raw" "$work/memory/raw"
(cd "$tree" && tr '\n' '\0' <"$work/sample.txt" | xargs -0 cp --parents -t "$work/host")
(cd "$tree" && grep -vxF -f "$work/big.txt" "$work/sample.txt" |
  awk -v stride=$((sample_files / few_files)) 'NR % stride == 1' |
  tr '\n' '\0' | xargs -0 cp --parents -t "$work/few")
sample_kib=$(du -sk "$work/host" | cut -f1)
image_mib=$((sample_kib * 3 / 2 / 1024 + 32))
((image_mib < 2048)) || fail "the sample needs a $image_mib MiB image, more than FAT16 holds"
make_hard_disk_image "$work/speed/raw/HD.IMG" "$image_mib" 6 "$work/host" -F 16
wrap_all "$work/speed/raw/HD.IMG" "$work/speed"
commands=(--command-name raw "$scan $work/speed/raw")
for wrapper in "${wrappers[@]}"; do
  read -r format _ <<<"$wrapper"
  expect_scanned "$sample_files" "$work/speed/$format"
  commands+=(--command-name "$format" "$scan $work/speed/$format")
done
expect_scanned "$sample_files" "$work/speed/raw"

echo "Cores seen: $(nproc); load: $(uptime | sed 's/.*load average/load average/')"
echo "Sample: $sample_files files, $((sample_kib / 1024)) MiB, in a $image_mib MiB FAT16 image"
hyperfine --shell=none --warmup 3 --runs "$runs" --style basic \
  --export-csv "$work/times.csv" "${commands[@]}"

# --- 2. Peak memory of a 2 GiB sparse image, raw and wrapped ---------------------------------
make_hard_disk_image "$work/memory/raw/HD.IMG" 2048 c "$work/few" -F 32
wrap_all "$work/memory/raw/HD.IMG" "$work/memory"
peak_kib() {
  expect_scanned "$few_files" "$1"
  /usr/bin/time -f %M -o "$work/peak" "${scan_command[@]}" "$1" >/dev/null
  cat "$work/peak"
}
peak_raw=$(peak_kib "$work/memory/raw")

echo
echo "Load after the runs: $(uptime | sed 's/.*load average/load average/')"
awk -F, '
  FNR > 1 { median[$1] = $4; cpu[$1] = $5 + $6 }
  END {
    for (name in median) if (name != "raw") {
      ratio = median["raw"] / median[name]
      printf "%-6s median %.4f s (user+system %.4f s): %.2f of the raw image'\''s files per second (goal 0.70: %s)\n",
        name, median[name], cpu[name], ratio, (ratio >= 0.7 ? "met" : "NOT met")
    }
    printf "%-6s median %.4f s (user+system %.4f s)\n", "raw", median["raw"], cpu["raw"]
  }' "$work/times.csv"
printf "peak memory, 2 GiB image raw:   %6d KiB\n" "$peak_raw"
for wrapper in "${wrappers[@]}"; do
  read -r format _ <<<"$wrapper"
  peak=$(peak_kib "$work/memory/$format")
  difference=$((peak - peak_raw))
  verdict="NOT met"
  ((difference < 32768)) && verdict=met
  printf "peak memory, 2 GiB image %-5s %6d KiB  (%+d KiB, goal under 32768: %s)\n" \
    "$format:" "$peak" "$difference" "$verdict"
done
