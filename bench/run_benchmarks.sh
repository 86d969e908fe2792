#!/usr/bin/env bash
# Builds the detection benchmark in the release tree and runs it. Arguments go to the
# benchmark, for example: bench/run_benchmarks.sh --benchmark_repetitions=3
# --benchmark_report_aggregates_only=true --benchmark_filter=synthetic
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
quarn_build_release detection_bench
build/release/bin/detection_bench "$@"
