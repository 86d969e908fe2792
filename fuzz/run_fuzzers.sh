#!/usr/bin/env bash
# Runs every libFuzzer target of an instrumented build (the sanitize preset) for SECONDS each,
# starting from its seeds (written afresh by the target's _seeds program into a corpus folder
# under the build), with inputs up to the target's own longest (bin/TARGET.max_len).
# Usage: fuzz/run_fuzzers.sh BUILD_DIR SECONDS [TARGET...]
# Prints each target's executions and coverage; exits non-zero when any target finds a fault.
set -uo pipefail
build=${1:?build folder}
seconds=${2:?seconds per target}
shift 2
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for target in "$build"/bin/*_fuzz; do targets+=("$(basename "$target")"); done
fi
if [ ${#targets[@]} -eq 0 ]; then
  echo "run_fuzzers.sh: no fuzz targets in $build/bin (build the sanitize preset)" >&2
  exit 2
fi
status=0
for name in "${targets[@]}"; do
  corpus="$build/corpus/$name"
  rm -rf "$corpus"
  mkdir -p "$corpus"
  "$build/bin/${name}_seeds" "$corpus" >/dev/null || { status=1; continue; }
  max_len=$(cat "$build/bin/$name.max_len" 2>/dev/null || echo 8192)
  # A target's own libFuzzer options, one a line (bin/TARGET.options, made by CMake).
  options=()
  if [ -f "$build/bin/$name.options" ]; then
    mapfile -t options < <(grep -v "^$" "$build/bin/$name.options")
  fi
  echo "--- $name (${seconds}s, inputs up to $max_len bytes)"
  log="$build/corpus/$name.log"
  if "$build/bin/$name" -max_total_time="$seconds" -max_len="$max_len" -seed=1 -print_final_stats=1 \
       "${options[@]}" -artifact_prefix="$build/corpus/$name-" "$corpus" >"$log" 2>&1; then
    grep -E "^#[0-9]+.*DONE|stat::number_of_executed_units" "$log" | tail -n 2
  else
    status=1
    tail -n 30 "$log"
  fi
done
exit $status
