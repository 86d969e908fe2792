#!/usr/bin/env bash
# Files per second a daemon answers when a client streams it a whole folder tree: quarnd
# against the real clamd, both with two scanning threads, both fed the scan tree
# (bench/scan_tree: 20,000 files, made once and reused) by quarnd_stream_client by INSTREAM,
# one connection per file, over the same number of connections. clamd gets an .ndb of
# generated body signatures, as many as quarnd's bundled database holds detection records
# (quarndb info, the cleaning and removal records left out), so neither gains by a smaller
# database.
#
#   bench/run_quarnd_stream.sh [TREE_FOLDER]      (default /tmp/quarn-scan-tree)
#
# QUARND_STREAM_CONNECTIONS (default 2) sets the client's connections, QUARND_STREAM_SESSION=1
# sends each client's files in one IDSESSION instead, QUARND_STREAM_AHEAD=N in one session with
# up to N requests sent ahead of their replies; SCAN_TREE_FILES (default 20000) the
# tree's size; QUARN_BUILD_DIR another configured build tree (default build/release).
# Then the real client over the same tree against each daemon: `clamdscan --fdpass -m` (one
# IDSESSION, each file's descriptor passed by FILDES, replies read as they come) and plain
# `clamdscan -m` (one MULTISCAN of the folder); QUARND_STREAM_CLAMDSCAN=0 leaves them out.
# Goal: quarnd at least 20 times clamd's files per second, in each of them.
# Exit status: 0 measured, 1 a step failed.
set -euo pipefail
export LC_ALL=C

cd "$(dirname "$0")/.."
tree=${1:-/tmp/quarn-scan-tree}
tree=${tree%/}
file_count=${SCAN_TREE_FILES:-20000}
connections=${QUARND_STREAM_CONNECTIONS:-2}
build_dir=${QUARN_BUILD_DIR:-build/release}
[[ $build_dir == /* ]] || build_dir=$PWD/$build_dir  # quarnd takes only absolute folders
bin=$build_dir/bin
clamd=/usr/sbin/clamd

fail() {
  echo "run_quarnd_stream: $*" >&2
  exit 1
}

[[ -n $tree ]] || fail "the tree cannot be the root folder"
[[ $connections =~ ^[1-9][0-9]*$ ]] || fail "QUARND_STREAM_CONNECTIONS must be a positive number"
[[ -x $clamd ]] || fail "$clamd is missing"
command -v clamdscan >/dev/null || fail "clamdscan is missing (it tells when clamd is up)"
[[ -n ${QUARN_BUILD_DIR:-} ]] || cmake --preset release >/dev/null
nice -n 19 cmake --build "$build_dir" --target quarnd quarndb default_database scan_tree_gen \
  write_ndb quarnd_stream_client >/dev/null

# The tree as bench/scan_tree/run_scan_tree.sh makes and stamps it, so both reuse one.
stamp="$tree.complete"
generator_sum=$(sha256sum <"$bin/scan_tree_gen")
wanted="files=$file_count generator=${generator_sum%% *}"
if [[ -d $tree && -f $stamp && $(<"$stamp") == "$wanted" ]]; then
  echo "Reusing the tree in $tree ($file_count files)"
else
  if [[ -f $stamp ]]; then
    rm -f "$stamp"
    rm -rf -- "$tree"
  elif [[ -d $tree && -n $(ls -A "$tree") ]]; then
    fail "$tree holds files that are not a finished tree of $file_count files"
  fi
  echo "Generating $file_count files in $tree"
  "$bin/scan_tree_gen" --files "$file_count" "$tree"
  echo "$wanted" >"$stamp"
fi

work=$(mktemp -d)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

data=$build_dir/share/quarnexp
signatures=$("$bin/quarndb" info "$data" | awk '
  $1 ~ /^[0-9]+$/ && NF == 3 && $2 !~ /clean|removal/ { total += $3 } END { print total + 0 }')
((signatures > 0)) || fail "quarndb info counted no detection records in $data"
mkdir "$work/clamav"
"$bin/write_ndb" "$signatures" "$work/clamav/generated.ndb"

cat >"$work/quarnd.conf" <<EOF
LocalSocket $work/quarnd.ctl
LogFile $work/quarnd.log
DatabaseDirectory $data
MaxThreads 2
StreamMaxLength 100M
TemporaryDirectory $work
Foreground yes
EOF
cat >"$work/clamd.conf" <<EOF
LocalSocket $work/clamd.ctl
LogFile $work/clamd.log
DatabaseDirectory $work/clamav
MaxThreads 2
StreamMaxLength 100M
TemporaryDirectory $work
Foreground yes
EOF

answers_ping() {
  clamdscan --config-file="$work/$1.conf" --ping 120:1 >/dev/null 2>&1 ||
    fail "$1 did not answer PING: $(tail -3 "$work/$1.log")"
}
# clamd keeps the digest of each file it found clean and skips the next scan of the same
# bytes: each run gets a clamd of its own, which sees the tree for the first time, as quarnd
# (which keeps no such list) sees it every time.
start_clamd() {
  "$clamd" --config-file="$work/clamd.conf" >>"$work/clamd.log" 2>&1 &
  pids+=($!)
  answers_ping clamd
}
stop_clamd() {
  kill "${pids[-1]}" && wait "${pids[-1]}" 2>/dev/null || true
  unset 'pids[-1]'
}

"$bin/quarnd" --config "$work/quarnd.conf" 2>>"$work/quarnd.log" &
pids+=($!)
answers_ping quarnd
start_clamd

echo "Cores seen: $(nproc); load: $(uptime | sed 's/.*load average/load average/')"
echo "Signatures: quarnd's bundled database $signatures detection records, clamd the same number generated"
echo "Warming the cache"
find "$tree" -type f -exec cat {} + >/dev/null

client=("$bin/quarnd_stream_client" --connections "$connections")
[[ ${QUARND_STREAM_SESSION:-0} == 1 ]] && client+=(--session)
[[ -n ${QUARND_STREAM_AHEAD:-} ]] && client+=(--ahead "$QUARND_STREAM_AHEAD")
declare -A rate
for daemon in quarnd clamd; do
  line=$("${client[@]}" "$work/$daemon.ctl" "$tree") || fail "$daemon: the client failed: $line"
  rate[$daemon]=$(sed -n 's/.*files_per_second=\([0-9]*\).*/\1/p' <<<"$line")
  printf '%-7s %s\n' "$daemon" "$line"
done
compare() {
  awk -v what="$1" -v q="${rate[quarnd]}" -v c="${rate[clamd]}" 'BEGIN {
    ratio = (c > 0 ? q / c : 0)
    printf "%s files/s quarnd %d, clamd %d: quarnd/clamd %.1f (goal 20: %s)\n", what, q, c, ratio,
      (ratio >= 20 ? "met" : "NOT met")
  }'
}
compare "quarnd_stream_client:"
[[ ${QUARND_STREAM_CLAMDSCAN:-1} == 1 ]] || exit 0

# clamdscan exits 1 when it found something, 2 on an error, and names only what it found (the
# tree's OK comes once, for the folder): no error line may come back for a rate to mean anything.
for mode in "--fdpass -m" "-m"; do
  stop_clamd
  start_clamd
  for daemon in quarnd clamd; do
    start=$(date +%s.%N)
    # shellcheck disable=SC2086 # the mode is two words on purpose
    clamdscan --config-file="$work/$daemon.conf" $mode "$tree" >"$work/clamdscan.out" 2>&1 &&
      status=0 || status=$?
    end=$(date +%s.%N)
    if ((status > 1)) || grep -q ' ERROR$' "$work/clamdscan.out"; then
      fail "$daemon: clamdscan $mode failed: $(grep -m3 ERROR "$work/clamdscan.out")"
    fi
    rate[$daemon]=$(awk -v n="$file_count" -v s="$start" -v e="$end" 'BEGIN { printf "%.0f", n / (e - s) }')
    printf '%-7s clamdscan %s: files=%d seconds=%.3f files_per_second=%d found=%s\n' "$daemon" \
      "$mode" "$file_count" "$(awk -v s="$start" -v e="$end" 'BEGIN { print e - s }')" \
      "${rate[$daemon]}" "$(sed -n 's/^Infected files: //p' "$work/clamdscan.out")"
  done
  compare "clamdscan $mode:"
done
