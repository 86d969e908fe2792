#!/usr/bin/env bash
# What an action inside a disk image costs: a 500 MB FAT32 hard-disk image, 450 MB of it
# data, holding infected files that the bundled database cleans. In each folder named (by
# default $TMPDIR, else /tmp), with the same quarnscan binary and the cache warmed:
#
#  - a scan that only reports (the image is read, nothing is copied);
#  - a scan that cleans one file (the first action makes the image's working copy: a clone
#    where the folder's file system shares extents, else a copy of the image's data);
#  - a scan that cleans ten files in the same image (still one working copy, one rename).
#
# Run it once on a file system without clones (ext4) and once on one with them (XFS made
# with reflink=1, Btrfs) to see what the copy costs:
#
#   bench/run_image_action.sh [FOLDER...]
#
# IMAGE_ACTION_RUNS (default 5) sets hyperfine's runs per command; QUARN_BUILD_DIR names
# another configured build tree (default build/release). Each run starts from a fresh copy
# of the image made by `cp --reflink=auto` before it (not timed). Needs mkfs.fat and mcopy.
# Exit status: 0 measured, 1 a step failed.
set -euo pipefail
export LC_ALL=C

cd "$(dirname "$0")/.."
runs=${IMAGE_ACTION_RUNS:-5}
build_dir=${QUARN_BUILD_DIR:-build/release}
bin=$build_dir/bin
folders=("$@")
[[ ${#folders[@]} -gt 0 ]] || folders=("${TMPDIR:-/tmp}")

fail() {
  echo "run_image_action: $*" >&2
  exit 1
}

[[ $runs =~ ^[1-9][0-9]*$ ]] || fail "IMAGE_ACTION_RUNS must be a positive whole number"
for tool in mkfs.fat mcopy hyperfine; do
  command -v "$tool" >/dev/null || fail "$tool is missing (dosfstools, mtools, hyperfine)"
done
cmake --build "$build_dir" --target quarnscan default_database samples >/dev/null
sample=samples/com_clean_append.com
[[ -f $sample ]] || fail "$sample is missing: the samples target makes it"

for folder in "${folders[@]}"; do
  work=$(mktemp -d "$folder/quarn-image-action-XXXXXX") || fail "cannot make a folder in $folder"
  trap 'rm -rf "$work"' EXIT
  echo "== $folder ($(df --output=fstype "$folder" | tail -1))"
  # 450 MB of data that no compression or deduplication makes smaller, then the victims.
  mkfs.fat -F 32 -C "$work/one.img" $((500 * 1024)) >/dev/null
  head -c $((450 * 1024 * 1024)) /dev/urandom >"$work/data.bin"
  export MTOOLS_SKIP_CHECK=1
  mcopy -i "$work/one.img" "$work/data.bin" ::/DATA.BIN
  rm "$work/data.bin"
  cp --reflink=auto "$work/one.img" "$work/ten.img"
  mcopy -i "$work/one.img" "$sample" ::/CLEAN0.COM
  for i in 0 1 2 3 4 5 6 7 8 9; do mcopy -i "$work/ten.img" "$sample" "::/CLEAN$i.COM"; done
  scan=("$bin/quarnscan" --settings "$work/settings.reg" --no-log --no-memory
    --data-dir "$build_dir/share/quarnexp")
  # One --prepare for each command, in their order.
  hyperfine --shell=bash --warmup 1 --runs "$runs" --style basic \
    --prepare "cp --reflink=auto $work/one.img $work/run.img" \
    --prepare "cp --reflink=auto $work/one.img $work/run.img" \
    --prepare "cp --reflink=auto $work/ten.img $work/run.img" \
    -n "report only" "${scan[*]} --action scan $work/run.img >/dev/null; [ \$? -eq 1 ]" \
    -n "one clean" "${scan[*]} --action clean $work/run.img >/dev/null; [ \$? -eq 1 ]" \
    -n "ten cleans" "${scan[*]} --action clean $work/run.img >/dev/null; [ \$? -eq 1 ]"
  # The last run cleaned: the image it left holds no working copy beside it and reads clean.
  "${scan[@]}" --action scan "$work/run.img" >/dev/null || fail "the cleaned image is not clean"
  ls -A "$work" | grep -q '\.quarn-' && fail "a working copy was left in $work"
  rm -rf "$work"
  trap - EXIT
done
