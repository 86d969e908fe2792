#!/usr/bin/env bash
# The main job: builds the programs, describes the bundled default database and writes the
# test samples into samples/.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh
quarn_install_packages "${QUARN_PACKAGES[@]}"
cmake --preset release >/dev/null
cmake --build --preset release -j "$(quarn_jobs)" --target quarndb default_database samples
build/release/bin/quarndb info build/release/share/quarnexp
echo "Test samples: samples/ (what each should give: samples/MANIFEST.txt)"
