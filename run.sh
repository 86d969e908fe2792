#!/usr/bin/env bash
# The main job: builds the programs, the default database and the test samples, then scans
# samples/ with the bundled database and shows the result lines: the samples, the files inside
# the disk images and the ARJ archive of samples/images/ (named after the container,
# "…\floppy-files.img!A:\EICAR.COM", "…\bbs-upload.arj!EICAR.COM"), and the boot sector of
# a floppy image as drive A:; then the partitions of a hard-disk image as drives C: and D:.
# ./run.sh quarnexp [ARGS...]: builds the desktop program and starts it on the display, with
# settings and a data folder of this run only; ARGS go to quarnexp (for instance
# --drive C:=samples 'C:\' to scan the samples at once).
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh
quarn_install_packages "${QUARN_PACKAGES[@]}"
cmake --preset release >/dev/null

if [ "${1:-}" = "quarnexp" ]; then
  shift
  cmake --build --preset release -j "$(quarn_jobs)" --target quarnexp default_database samples
  scratch="$(mktemp -d)"
  trap 'rm -rf "$scratch"' EXIT
  mkdir "$scratch/data"
  cp build/release/share/quarnexp/QUARN.DAT build/release/share/quarnexp/NAMEVIR.DAT "$scratch/data/"
  status=0
  build/release/bin/quarnexp --settings "$scratch/settings.reg" --data-dir "$scratch/data" "$@" ||
    status=$?
  exit "$status"
fi

cmake --build --preset release -j "$(quarn_jobs)" --target quarnscan quarndb default_database samples
build/release/bin/quarndb info build/release/share/quarnexp
echo
echo "Scanning samples/ (what each file should give: samples/MANIFEST.txt; inside the images"
echo "and archives of samples/images/: samples/images/MANIFEST.txt), then the boot sector of"
echo "drive A:, a floppy image with a boot virus (samples/system/MANIFEST.txt)"
# A settings file of this run only, so the scans neither read nor write the user's own.
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
settings="$scratch/settings.reg"
scan() {
  local status=0
  build/release/bin/quarnscan --settings "$settings" --data-dir build/release/share/quarnexp \
    --no-log --no-memory "$@" || status=$?
  # 1 means something was found, which is what the samples are for.
  if [ "$status" -gt 1 ]; then
    echo "quarnscan failed with exit status $status" >&2
    exit "$status"
  fi
}
scan --disk 0=samples/system/floppy-boot-infected.img samples A:
echo
echo "The hard-disk image samples/images/hard-disk-files.img as disk 0x80: its partitions are"
echo "drives C: and D:"
scan --disk 0x80=samples/images/hard-disk-files.img C: D:
