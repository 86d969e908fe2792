#!/usr/bin/env bash
# The Python module and the Dask scan against quarnscan on the scan tree, one hyperfine run
# each, with the cache warmed first:
#   1. engine.scan_path over the tree in Python against `quarnscan --jobs 1` (goal: 0.9 of its
#      speed or more);
#   2. the tree's top entries shared by two Python threads over one engine, against the same
#      entries on one thread (goal: 1.6 times as fast or more);
#   3. python3 -m quarn.dask_scan on a 2-worker LocalCluster that is already up against
#      `quarnscan --jobs 2` (goal: 0.8 or more); the same scan starting its own cluster is
#      timed beside them, and the difference is the cluster's start-up. The Dask scan of an
#      empty folder is its fixed cost (Python, importing Dask, reaching the cluster): the
#      share is given again without it. With LARGE_TREE_FOLDER, the third comparison is made
#      on that tree too, where the fixed cost weighs less;
#   4. dask_scan.scan called by a Python program already connected to that cluster (a
#      notebook's view: the client connected and the workers' engines open), timed in that
#      program with time.perf_counter, against the same `quarnscan --jobs 2` (goal: 0.8 or
#      more).
#
#   bench/run_library_scan.sh [TREE_FOLDER [LARGE_TREE_FOLDER]]   (default /tmp/quarn-scan-tree)
#
# The trees are ones bench/scan_tree/run_scan_tree.sh makes (run that first; the large one
# with, say, SCAN_TREE_FILES=200000 into another folder).
# LIBRARY_SCAN_RUNS (default 3) sets hyperfine's runs per command, LIBRARY_SCAN_CALLS (default
# 15) the timed calls of the fourth comparison; QUARN_BUILD_DIR names
# another configured build tree (default build/release, configured by its preset). Prints the
# load average before and after: the figures of a machine shared with other work are noisy.
# Exit status: 0 measured, 1 a step failed.
set -euo pipefail
export LC_ALL=C

cd "$(dirname "$0")/.."
tree=${1:-/tmp/quarn-scan-tree}
tree=${tree%/}
large_tree=${2:-}
large_tree=${large_tree%/}
runs=${LIBRARY_SCAN_RUNS:-3}
build_dir=${QUARN_BUILD_DIR:-build/release}
bin=$build_dir/bin
python=/usr/bin/python3

fail() {
  echo "run_library_scan: $*" >&2
  exit 1
}

calls=${LIBRARY_SCAN_CALLS:-15}
[[ $runs =~ ^[1-9][0-9]*$ ]] || fail "LIBRARY_SCAN_RUNS must be a positive whole number"
[[ $calls =~ ^[1-9][0-9]*$ ]] || fail "LIBRARY_SCAN_CALLS must be a positive whole number"
for folder in "$tree" ${large_tree:+"$large_tree"}; do
  [[ -f $folder.complete ]] ||
    fail "$folder is not a finished scan tree: make it with bench/scan_tree/run_scan_tree.sh"
done
if ! command -v hyperfine >/dev/null; then
  source scripts/common.sh
  quarn_install_packages hyperfine
fi
[[ -n ${QUARN_BUILD_DIR:-} ]] || cmake --preset release >/dev/null
cmake --build "$build_dir" --target quarnscan quarn_python default_database
export PYTHONPATH=$PWD/$build_dir/python
# Byte-compiled as python3-quarn's postinst leaves it: the module is not compiled from source at
# every start, whatever PYTHONDONTWRITEBYTECODE says.
"$python" -m compileall -q "$build_dir/python"
data=$PWD/$build_dir/share/quarnexp

work=$(mktemp -d)
cluster_pid=""
cleanup() {
  if [[ -n $cluster_pid ]]; then
    kill "$cluster_pid" 2>/dev/null || true
    wait "$cluster_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# THREADS ENTRY...: the entries scanned by THREADS threads over one engine, each thread taking
# the next entry not yet taken.
cat >"$work/scan_threads.py" <<'EOF'
import queue, sys, threading, quarn
threads, entries = int(sys.argv[1]), queue.SimpleQueue()
for entry in sys.argv[2:]:
    entries.put(entry)
with quarn.Engine() as engine:
    def scan():
        while True:
            try:
                engine.scan_path(entries.get_nowait(), files="all")
            except queue.Empty:
                return
    workers = [threading.Thread(target=scan) for _ in range(threads)]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
EOF
# The largest first, so that no thread is left with a big one at the end.
mapfile -t entries < <(du -s "$tree"/* | sort -rn | cut -f2)
((${#entries[@]} >= 2)) || fail "$tree has fewer than two top entries to share"

# A cluster of two single-threaded workers that stays up for the third run (a file, not
# standard input: each worker process imports the main module again).
cat >"$work/cluster.py" <<'EOF'
import signal, sys, time
from distributed import LocalCluster
if __name__ == "__main__":
    # Stopped by the script's kill: the workers go with the cluster.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster:
        print(cluster.scheduler_address, flush=True)
        time.sleep(86400)
EOF
"$python" "$work/cluster.py" >"$work/scheduler" 2>"$work/cluster.log" &
cluster_pid=$!
for _ in $(seq 60); do
  [[ -s $work/scheduler ]] && break
  sleep 1
done
[[ -s $work/scheduler ]] || fail "the cluster did not start: $(cat "$work/cluster.log")"
scheduler=$(<"$work/scheduler")

# SCHEDULER TREE DATA CALLS: the median time of CALLS scans of TREE by one connected client,
# after one that is not timed (the workers import the task's module then).
cat >"$work/scan_calls.py" <<'EOF'
import os, statistics, sys, time
from distributed import Client
from quarn import dask_scan
scheduler, tree, data, calls = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
with Client(scheduler) as client:
    def scan():
        dask_scan.scan(client, tree, output=os.devnull, data_dir=data, files="all")
    scan()
    times = []
    for _ in range(calls):
        start = time.perf_counter()
        scan()
        times.append(time.perf_counter() - start)
print(f"{statistics.median(times):.4f}")
EOF

mkdir "$work/empty"
scan="$bin/quarnscan --settings $work/settings.reg --no-log --no-memory --json --files all"
scan+=" --data-dir $data"
dask="$python -m quarn.dask_scan --files all --data-dir $data --output /dev/null"
large=()
if [[ -n $large_tree ]]; then
  large=(--command-name quarnscan_jobs2_large "$scan --jobs 2 $large_tree"
    --command-name dask_cluster_up_large "$dask --scheduler $scheduler $large_tree")
fi
echo "Cores seen: $(nproc); load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
hyperfine --warmup 1 --runs "$runs" --style basic --export-csv "$work/times.csv" \
  --command-name quarnscan_jobs1 "$scan --jobs 1 $tree" \
  --command-name python_scan_path "$python -c 'import quarn; quarn.Engine().scan_path(\"$tree\", files=\"all\")'" \
  --command-name python_1_thread "$python $work/scan_threads.py 1 ${entries[*]}" \
  --command-name python_2_threads "$python $work/scan_threads.py 2 ${entries[*]}" \
  --command-name quarnscan_jobs2 "$scan --jobs 2 $tree" \
  --command-name dask_cluster_up "$dask --scheduler $scheduler $tree" \
  --command-name dask_own_cluster "$dask --workers 2 $tree" \
  --command-name dask_fixed_cost "$dask --scheduler $scheduler $work/empty" "${large[@]}"
echo "Load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
called=$("$python" "$work/scan_calls.py" "$scheduler" "$tree" "$data" "$calls") ||
  fail "the scan called on a client failed"
echo "Load average after $calls calls: $(cut -d' ' -f1-3 /proc/loadavg)"

# Speed as a share of another command's, from the median times: on a shared machine a few
# runs are slowed by other work, which the mean would carry.
awk -F, -v called="$called" '
  NR > 1 { median[$1] = $4 }
  function share(name, of, goal) {
    ratio = median[of] / median[name]
    printf "%-17s %7.3f s  %.2f of %s  (goal %.2f: %s)\n", name, median[name], ratio, of, goal,
      (ratio >= goal ? "met" : "NOT met")
  }
  END {
    printf "%-17s %7.3f s\n", "quarnscan_jobs1", median["quarnscan_jobs1"]
    share("python_scan_path", "quarnscan_jobs1", 0.9)
    printf "%-17s %7.3f s\n", "python_1_thread", median["python_1_thread"]
    share("python_2_threads", "python_1_thread", 1.6)
    printf "%-17s %7.3f s\n", "quarnscan_jobs2", median["quarnscan_jobs2"]
    share("dask_cluster_up", "quarnscan_jobs2", 0.8)
    printf "%-17s %7.3f s  (the cluster starting: %.3f s more)\n", "dask_own_cluster",
      median["dask_own_cluster"], median["dask_own_cluster"] - median["dask_cluster_up"]
    without("dask_cluster_up", "quarnscan_jobs2")
    median["dask_scan_call"] = called
    share("dask_scan_call", "quarnscan_jobs2", 0.8)
    if ("dask_cluster_up_large" in median) {
      printf "%-17s %7.3f s\n", "quarnscan_jobs2_large", median["quarnscan_jobs2_large"]
      share("dask_cluster_up_large", "quarnscan_jobs2_large", 0.8)
      without("dask_cluster_up_large", "quarnscan_jobs2_large")
    }
  }
  function without(name, of) {
    scan = median[name] - median["dask_fixed_cost"]
    printf "  without its fixed cost of %.3f s: %.3f s, %.2f of %s\n", median["dask_fixed_cost"],
      scan, (scan > 0 ? median[of] / scan : 0), of
  }' "$work/times.csv"
