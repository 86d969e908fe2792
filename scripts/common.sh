# Shared by run.sh and test.sh: installs what the build needs and times the stages.

# Debian packages the build and the tests need. libclang-rt-14-dev carries libFuzzer and the
# sanitizer runtimes for clang; qt6-base-dev the desktop program, and a font so its offscreen
# tests and screenshots render text.
QUARN_PACKAGES=(cmake ninja-build g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev
                libbenchmark-dev libcli11-dev nlohmann-json3-dev qt6-base-dev fonts-dejavu-core)

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

quarn_jobs() { nproc 2>/dev/null || echo 2; }

# quarn_build_release TARGET...: the packages, the release tree's configuration, then only
# the targets named, for the scripts that run one program of the release build.
quarn_build_release() {
  quarn_install_packages "${QUARN_PACKAGES[@]}"
  cmake --preset release >/dev/null
  cmake --build build/release -j "$(quarn_jobs)" --target "$@"
}
