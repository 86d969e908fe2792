#!/usr/bin/env bash
# QUARNX.DAT at the size of a real user's ClamAV database (main.cvd + daily.cvd hold about 5
# million signatures, nearly all hashes): for each COUNT, a main.hdb of COUNT records is
# written, imported by quarndb (its time and its peak resident memory), and the result loaded
# as the scanner loads it (its time and the private memory it adds).
#
#   bench/imported_scale/run_imported_scale.sh [COUNT...]     (default 1000000 5000000)
#
# QUARN_BUILD_DIR names another configured build tree (default build/release). Goals: the
# import of 1 million records under 200 MiB and of 5 million under 700 MiB; loading 5 million
# under 1 s, adding under 64 MiB of private memory. The records and QUARNX.DAT are written in
# a temporary folder (about 180 MB a million) and removed at the end.
# Exit status: 0 measured, 1 a step failed.
set -euo pipefail
export LC_ALL=C

cd "$(dirname "$0")/../.."
build_dir=${QUARN_BUILD_DIR:-build/release}
bin=$build_dir/bin
counts=("$@")
[[ ${#counts[@]} -gt 0 ]] || counts=(1000000 5000000)

cmake --build "$build_dir" --target quarndb write_hash_records load_imported peak_memory

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for count in "${counts[@]}"; do
  [[ $count =~ ^[1-9][0-9]*$ ]] || { echo "run_imported_scale: $count is no count" >&2; exit 1; }
  mkdir -p "$work/clamav" "$work/data"
  "$bin/write_hash_records" "$work/clamav" "$count"
  start=$(date +%s.%N)
  peak=$("$bin/peak_memory" "$bin/quarndb" import-clamav "$work/clamav" -o "$work/data" 2>/dev/null)
  end=$(date +%s.%N)
  size=$(stat -c %s "$work/data/QUARNX.DAT")
  printf '%s records: import %.2f s, peak %d MiB, QUARNX.DAT %d MiB\n' "$count" \
    "$(echo "$end - $start" | bc)" $((peak / 1024)) $((size / 1048576))
  # The import left QUARNX.DAT in the page cache, as it is for a scanner started after it.
  "$bin/load_imported" "$work/data"
  rm -rf "$work/clamav" "$work/data"
done
