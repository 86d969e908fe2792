# SPDX-License-Identifier: Apache-2.0
"""Scans a tree, or the files of a manifest, on a Dask cluster.

    python3 -m quarn.dask_scan [--scheduler ADDRESS | --workers N] [--manifest FILE | ROOT]
                               [--chunk N] [--output FILE] [--data-dir DIR] [scan options]

Without --scheduler a LocalCluster of single-threaded worker processes, one per core unless
--workers says, is started and stopped again. ROOT is walked as quarnscan walks it: each folder's names in byte order,
no link followed, regular files only, no folder of another mount; a manifest names one path
per line. The files are cut into tasks of at most --chunk paths (1000), each scanned whole
(a container is scanned by the task that holds its path) by one worker, whose plugin opened
one quarn.Engine when it started. The scan options are quarnscan's: --files, --containers,
--heuristics and the --max-* limits; there is no --action: a distributed scan only reports.

The output (standard output, or --output FILE) is JSON lines: the events of every task but
their summaries, then one ``summary`` whose counts are the sums of theirs. Sorted by
host_path and path, the events are those of ``quarnscan --json --no-memory --paths host``
over the same files with the same options, without its ``line``, ``memory`` and ``message``
events.

Nothing is lost or written twice when a worker dies: a task returns all its events as its
result and changes nothing, so it can run any number of times; the scheduler runs a task
whose worker died again, whole, on another worker (and a task that raised is retried, the
submit's ``retries``); the output is written only from a completed task's result, each task's
once, in task order. A path that vanished between the walk and its scan is left out, as if
the walk had not met it.

On several hosts: start ``dask-scheduler`` on one, ``dask-worker --nthreads 1 --nworkers N
tcp://SCHEDULER:8786`` on each (with this package and the databases installed), and pass
``--scheduler tcp://SCHEDULER:8786``; every worker must see the files under the same paths.
Progress is Dask's bar on standard error when that is a terminal. Exit status: 0 nothing
found, 1 a virus or a suspicious file found, 2 the scan could not run.
"""
from __future__ import annotations

import argparse
import json
import os
import stat
import sys
import threading
from typing import Any, Iterable, Iterator

from distributed import Client, LocalCluster, get_worker
from distributed.diagnostics.plugin import WorkerPlugin
from distributed.diagnostics.progressbar import TextProgressBar

import quarn

PLUGIN_NAME = "quarn-engine"
DEFAULT_CHUNK = 1000
# The counters of a summary, for a run that scanned no file at all.
SUMMARY_COUNTERS = ("infected", "suspicious", "scanned", "total", "cleaned", "deleted", "renamed",
                    "incomplete")
# A task that raised runs this many times more before the run fails.
TASK_RETRIES = 2


class EnginePlugin(WorkerPlugin):
    """Opens one quarn.Engine when a worker starts and closes it when the worker ends."""

    name = PLUGIN_NAME

    def __init__(self, data_dir: str | None) -> None:
        self.data_dir = data_dir
        self.engine: quarn.Engine | None = None

    def setup(self, worker: Any) -> None:
        self.engine = quarn.Engine(self.data_dir)

    def teardown(self, worker: Any) -> None:
        if self.engine is not None:
            self.engine.close()


def scan_task(paths: list[str], options: dict[str, Any]) -> tuple[list[dict], dict[str, int]]:
    """Runs on a worker: the events of every path but the summaries, and the summed counters."""
    engine = get_worker().plugins[PLUGIN_NAME].engine
    events: list[dict] = []
    counters: dict[str, int] = {}
    # One scan for the whole task; only when a path has gone since the walk, one scan a path,
    # leaving out those that are gone.
    try:
        scans = [engine.scan_paths(paths, **options)]
    except quarn.ScanError:
        scans = []
        for path in paths:
            try:
                scans.append(engine.scan_path(path, **options))
            except quarn.ScanError:
                continue
    for found in scans:
        for event in found:
            if event["event"] != "summary":
                events.append(event)
                continue
            for name, value in event.items():
                if name != "event":
                    counters[name] = counters.get(name, 0) + value
    return events, counters


def walk(root: str) -> Iterator[str]:
    """The files under `root` in quarnscan's order; a folder that cannot be listed is given
    as itself, for its scan to report it unreadable."""
    top = os.fsencode(root)
    facts = os.lstat(top)
    if not stat.S_ISDIR(facts.st_mode):
        yield root
        return
    mount = facts.st_dev
    # Each level's entries still to visit, the first last.
    pending: list[list[os.DirEntry]] = []

    def listed(folder: bytes) -> list[os.DirEntry] | None:
        try:
            with os.scandir(folder) as entries:
                return sorted(entries, key=lambda entry: entry.name, reverse=True)
        except OSError:
            return None

    first = listed(top)
    if first is None:
        yield root
        return
    pending.append(first)
    while pending:
        level = pending[-1]
        if not level:
            pending.pop()
            continue
        entry = level.pop()
        try:
            if entry.is_file(follow_symlinks=False):
                yield os.fsdecode(entry.path)
            elif entry.is_dir(follow_symlinks=False) and entry.stat(
                    follow_symlinks=False).st_dev == mount:
                below = listed(entry.path)
                if below is None:
                    yield os.fsdecode(entry.path)
                else:
                    pending.append(below)
        except OSError:
            continue


def manifest_paths(manifest: str) -> Iterator[str]:
    with open(manifest, "rb") as lines:
        for line in lines:
            line = line.rstrip(b"\n")
            if line:
                yield os.path.abspath(os.fsdecode(line))


def chunks(paths: Iterable[str], size: int) -> Iterator[list[str]]:
    chunk: list[str] = []
    for path in paths:
        chunk.append(path)
        if len(chunk) == size:
            yield chunk
            chunk = []
    if chunk:
        yield chunk


def positive(text: str) -> int:
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"{text} is not a positive whole number")
    return value


def parse_arguments(arguments: list[str] | None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(prog="python3 -m quarn.dask_scan",
                                     description=__doc__.split("\n\n")[0])
    parser.add_argument("--scheduler", metavar="ADDRESS",
                        help="a running scheduler (default: a LocalCluster on this host)")
    target = parser.add_mutually_exclusive_group(required=True)
    target.add_argument("--manifest", metavar="FILE", help="the paths to scan, one per line")
    target.add_argument("root", nargs="?", metavar="ROOT", help="the folder or file to scan")
    parser.add_argument("--chunk", type=positive, default=DEFAULT_CHUNK, metavar="N",
                        help=f"at most N paths a task (default {DEFAULT_CHUNK})")
    parser.add_argument("--output", metavar="FILE", help="the JSON lines (default: stdout)")
    parser.add_argument("--workers", type=positive, default=os.cpu_count() or 1, metavar="N",
                        help="worker processes of the LocalCluster (default: one per core)")
    parser.add_argument("--data-dir", metavar="DIR",
                        help="the databases on every worker (default: installed with libquarn)")
    parser.add_argument("--files", choices=("exe", "all"), default="exe")
    parser.add_argument("--containers", default="all")
    parser.add_argument("--heuristics", choices=("on", "off"), default="on")
    for limit in quarn.LIMITS:
        parser.add_argument("--" + limit.replace("_", "-"), dest=limit, metavar="VALUE")
    return parser.parse_args(arguments)


def scan_options(parsed: argparse.Namespace) -> dict[str, Any]:
    options: dict[str, Any] = {"files": parsed.files, "containers": parsed.containers,
                               "heuristics": parsed.heuristics == "on"}
    for limit in quarn.LIMITS:
        if getattr(parsed, limit) is not None:
            options[limit] = getattr(parsed, limit)
    return options


class StderrProgressBar(TextProgressBar):
    """Dask's text progress bar, drawn on standard error: standard output may be the scan's."""

    def _draw_bar(self, remaining: int, all: int, **kwargs: Any) -> None:
        done = 1 - remaining / all if all else 1.0
        sys.stderr.write(f"\r[{'#' * int(self.width * done):<{self.width}}] | "
                         f"{int(100 * done)}% Completed")
        sys.stderr.flush()

    def _draw_stop(self, **kwargs: Any) -> None:
        sys.stderr.write("\33[2K\r")
        sys.stderr.flush()


def run(parsed: argparse.Namespace, client: Any, output: Any) -> int:
    options = scan_options(parsed)
    client.register_worker_plugin(EnginePlugin(parsed.data_dir), name=PLUGIN_NAME)
    paths = (manifest_paths(parsed.manifest) if parsed.manifest
             else walk(os.path.abspath(parsed.root)))
    futures = [client.submit(scan_task, chunk, options, retries=TASK_RETRIES, pure=False)
               for chunk in chunks(paths, parsed.chunk)]
    if sys.stderr.isatty():
        threading.Thread(target=StderrProgressBar, args=(futures,), daemon=True).start()
    totals = dict.fromkeys(SUMMARY_COUNTERS, 0)
    for index, future in enumerate(futures):
        events, counters = future.result()
        futures[index] = None  # the worker may forget the result once it is written
        future.release()
        for event in events:
            output.write(json.dumps(event, ensure_ascii=False, separators=(",", ":")) + "\n")
        output.flush()
        for name, value in counters.items():
            totals[name] = totals.get(name, 0) + value
    output.write(json.dumps({"event": "summary", **totals}, separators=(",", ":")) + "\n")
    output.flush()
    return 1 if totals.get("infected") or totals.get("suspicious") else 0


def main(arguments: list[str] | None = None) -> int:
    parsed = parse_arguments(arguments)
    try:
        quarn._checked_options(**scan_options(parsed))
        if parsed.root is not None:
            os.lstat(parsed.root)
    except (ValueError, OSError) as failure:
        print(f"dask_scan: {failure}", file=sys.stderr)
        return 2
    cluster = None
    if parsed.scheduler is None:
        cluster = LocalCluster(n_workers=parsed.workers, threads_per_worker=1,
                               processes=True, dashboard_address=None)
    output = (open(parsed.output, "w", encoding="utf-8") if parsed.output
              else open(sys.stdout.fileno(), "w", encoding="utf-8", closefd=False))
    try:
        with Client(parsed.scheduler or cluster) as client:
            return run(parsed, client, output)
    except (quarn.Error, OSError) as failure:
        # A worker's engine that did not open, a manifest that cannot be read.
        print(f"dask_scan: {failure}", file=sys.stderr)
        return 2
    finally:
        output.close()
        if cluster is not None:
            cluster.close()


if __name__ == "__main__":
    sys.exit(main())
