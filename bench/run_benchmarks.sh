#!/usr/bin/env bash
# Builds the detection benchmark in the release tree and runs it. Arguments go to the
# benchmark, for example: bench/run_benchmarks.sh --benchmark_repetitions=3
# --benchmark_report_aggregates_only=true --benchmark_filter=synthetic
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
quarn_install_packages "${QUARN_PACKAGES[@]}"
cmake --preset release >/dev/null
cmake --build build/release -j "$(quarn_jobs)" --target detection_bench
build/release/bin/detection_bench "$@"
