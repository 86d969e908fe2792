#!/usr/bin/env bash
# Makes docs/screenshot.png: builds quarnexp, maps the generated samples/ as drive C:, lets
# the program scan it from its command line on Qt's offscreen platform, and saves the main
# window once the scan has ended. QUARN_BUILD_DIR=DIR uses an already configured build
# folder instead of the release preset.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
build="${QUARN_BUILD_DIR:-build/release}"
if [ -z "${QUARN_BUILD_DIR:-}" ]; then
  quarn_install_packages "${QUARN_PACKAGES[@]}"
  cmake --preset release >/dev/null
fi
cmake --build "$build" -j "$(quarn_jobs)" --target quarnexp default_database samples

# Settings and data of this run only; the screen is one of a typical desktop size.
scratch="$(mktemp -d)"
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/data"
cp "$build/share/quarnexp/QUARN.DAT" "$build/share/quarnexp/NAMEVIR.DAT" "$scratch/data/"
cat >"$scratch/screen.json" <<'JSON'
{ "screens": [ { "name": "screen", "x": 0, "y": 0, "width": 1024, "height": 680,
                 "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1 } ] }
JSON
QT_QPA_PLATFORM="offscreen:configfile=$scratch/screen.json" \
  "$build/bin/quarnexp" --settings "$scratch/settings.reg" --data-dir "$scratch/data" \
  --drive "C:=$PWD/samples" --no-memory --screenshot docs/screenshot.png 'C:\'
echo "Wrote docs/screenshot.png"
