# Shared by run.sh and test.sh: installs what the build needs and times the stages.

# Debian packages the build needs: the programs, and qt6-base-dev for the desktop program
# with a font so its offscreen tests and screenshots render text; unar is the extractor the
# scan reads ARJ and ARC archives with at run time (without it they are reported unsupported);
# python3-dev builds the Python module on libquarn.
QUARN_PACKAGES=(cmake ninja-build g++ libcli11-dev nlohmann-json3-dev qt6-base-dev
                fonts-dejavu-core libarchive-dev liblhasa-dev liblzma-dev libmspack-dev libvectorscan-dev
                zlib1g-dev libssl-dev libsystemd-dev pkg-config libqcow-dev libvhdi-dev libvmdk-dev libbfio-dev libdsk4-dev libewf-dev unar
                python3-dev)
# Needed only to build and run the tests and benchmarks (test.sh installs them, run.sh not);
# clamdscan and python3-pyclamd are real clients of the daemon's protocol that quarnd's tests
# talk to it through; python3 runs the check of the layers (scripts/check_layers.py).
QUARN_TEST_PACKAGES=(libgtest-dev libgmock-dev libbenchmark-dev clamdscan python3-pyclamd python3)
# The real tools the container tests check the containers layer against: mkfs.fat, mtools
# and sfdisk make and read the images, the packers make the archives, lhasa lists and
# extracts LZH archives, libgsf-bin's gsf writes compound documents, arj, arc and mscompress
# make the DOS archivers' files; qemu-utils's qemu-img puts raw images in the disk image
# wrappers, libdsk-utils's dsktrans puts floppies in ImageDisk, TeleDisk and CopyQM files,
# ewf-tools's ewfacquire writes E01 sets, and bchunk reads a raw CD back (test.sh installs them,
# run.sh not).
QUARN_CONTAINER_TEST_PACKAGES=(dosfstools mtools fdisk zip unzip p7zip-full genisoimage gcab xz-utils
                               zstd bzip2 ncompress lhasa libgsf-bin mscompress arj arc qemu-utils bchunk
                               libdsk-utils ewf-tools)
# Only for ./test.sh --full: clang, and libclang-rt-14-dev with libFuzzer and the sanitizers'
# runtimes; clamav, whose clamscan witnesses what imported signatures find, and
# clamav-testfiles, its own test files among them; clamav-daemon, whose clamd answers the
# same requests as quarnd for the tests to compare; what makes and checks the Debian packages
# (dpkg-dev's dpkg-shlibdeps, file, lintian) and reads their manual pages and completion
# (man-db, bash-completion); Dask's distributed scheduler, which the Python module's scans
# on a cluster run on (python3-psutil finds the worker the test kills).
QUARN_FULL_TEST_PACKAGES=(clang libclang-rt-14-dev clamav clamav-daemon clamav-testfiles
                          dpkg-dev file lintian man-db bash-completion python3-dask
                          python3-distributed python3-psutil)

quarn_install_packages() {
  local missing=()
  local package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
}

QUARN_STAGE_NAMES=()
QUARN_STAGE_SECONDS=()

# quarn_stage NAME COMMAND...: runs the command and records how long it took.
quarn_stage() {
  local name=$1
  shift
  echo "==> $name"
  local start=$SECONDS
  "$@"
  local status=$?
  QUARN_STAGE_NAMES+=("$name")
  QUARN_STAGE_SECONDS+=($((SECONDS - start)))
  if [ $status -ne 0 ]; then
    echo "==> $name failed (exit $status)"
    quarn_print_stage_times
    exit $status
  fi
}

quarn_print_stage_times() {
  echo "Stage times:"
  local i
  for i in "${!QUARN_STAGE_NAMES[@]}"; do
    printf '  %-34s %5ds\n' "${QUARN_STAGE_NAMES[$i]}" "${QUARN_STAGE_SECONDS[$i]}"
  done
}

# quarn_report_budget SECONDS: the total of the stages, and whether it kept the budget.
quarn_report_budget() {
  local total=0 seconds
  for seconds in "${QUARN_STAGE_SECONDS[@]}"; do total=$((total + seconds)); done
  if [ "$total" -le "$1" ]; then
    printf '  %-34s %5ds (budget %ds)\n' "total" "$total" "$1"
  else
    printf '  %-34s %5ds: OVER the budget of %ds\n' "total" "$total" "$1"
  fi
}

quarn_jobs() { nproc 2>/dev/null || echo 2; }

# quarn_build_release TARGET...: the packages, the release tree's configuration, then only
# the targets named, for the scripts that run one program of the release build.
quarn_build_release() {
  quarn_install_packages "${QUARN_PACKAGES[@]}" "${QUARN_TEST_PACKAGES[@]}"
  cmake --preset release >/dev/null
  cmake --build build/release -j "$(quarn_jobs)" --target "$@"
}
