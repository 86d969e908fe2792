#!/usr/bin/env bash
# The main job: builds the programs and describes the bundled default database.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/common.sh
quarn_install_packages "${QUARN_PACKAGES[@]}"
cmake --preset release >/dev/null
cmake --build --preset release -j "$(quarn_jobs)" --target quarndb default_database
build/release/bin/quarndb info build/release/share/quarnexp
