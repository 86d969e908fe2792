# Sourced by the benchmarks that scan disk images. make_hard_disk_image IMAGE SIZE_MIB TYPE
# FOLDER [MKFS.FAT OPTIONS] writes a hard-disk image of SIZE_MIB with one partition of TYPE
# (hex) from sector 2048 to the end, holding the files of FOLDER, as a disk from an emulator
# is: truncate leaves it sparse, mkfs.fat writes only its boot sector, FATs and root folder,
# and the hidden-sector count is the partition's start, as DOS's FDISK and FORMAT leave it.
# summary_counts prints the "scanned" and "incomplete" counters of a scan's summary event.
make_hard_disk_image() {
  local image=$1 size_mib=$2 type=$3 folder=$4
  shift 4
  truncate -s "${size_mib}M" "$image"
  echo "start=2048, type=$type" | sfdisk --quiet "$image"
  mkfs.fat "$@" -h 2048 --offset 2048 "$image" $((size_mib * 1024 - 1024)) >/dev/null
  mcopy -s -i "$image@@1M" "$folder"/* ::/
}

summary_counts() {
  sed -n 's/^{"event":"summary".*"scanned":\([0-9]*\).*"incomplete":\([0-9]*\).*/\1 \2/p'
}
