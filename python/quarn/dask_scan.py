# SPDX-License-Identifier: Apache-2.0
"""Scans a tree, or the files of a manifest, on a Dask cluster.

    python3 -m quarn.dask_scan [--scheduler ADDRESS | --workers N] [--manifest FILE | ROOT]
                               [--chunk N] [--output FILE] [--data-dir DIR] [scan options]

Without --scheduler a LocalCluster of single-threaded worker processes, one per core unless
--workers says, is started and stopped again. ROOT is walked as quarnscan walks it: each
folder's names in byte order, no link followed, regular files only, no folder of another
mount; a manifest names one path per line. The files are cut into tasks, each scanned whole
(a container is scanned by the task that holds its path) by one worker, whose plugin opened
one quarn.Engine when it started. A task holds --chunk paths (1000 unless it says; the last
fewer): a bounded task is what a worker that dies loses and runs again. The walk goes on
while the first tasks run, and starts before Dask is imported. The scan options are quarnscan's: --files,
--containers, --heuristics and the --max-* limits; there is no --action: a distributed scan
only reports.

The output (standard output, or --output FILE) is JSON lines: the events of every task but
their summaries, then one ``summary`` whose counts are the sums of theirs. Sorted by
host_path and path, the events are those of ``quarnscan --json --no-memory --paths host``
over the same files with the same options, without its ``line``, ``memory`` and ``message``
events.

Nothing is lost or written twice when a worker dies: a task returns all its events as its
result and changes nothing, so it can run any number of times; the scheduler runs a task
whose worker died again, whole, on another worker (and a task that raised is retried, the
client's ``retries``); the output is written only from a completed task's result, each
task's once, as the tasks complete. A path that vanished between the walk and its scan is
left out, as if the walk had not met it.

From Python, on a cluster already up (a notebook's)::

    from distributed import Client
    from quarn import dask_scan
    with Client("tcp://SCHEDULER:8786") as client:
        summary = dask_scan.scan(client, "/srv/collection", output="events.jsonl", files="all")

scan(client, root=None, *, manifest=None, output, chunk=1000, data_dir=None, **options) takes
the options of quarn.Engine.scan_path but ``action``, writes the JSON lines to ``output`` (a
path, or a text file open for writing) and returns the summary as a dict. Each worker keeps
its engine from one scan to the next: the databases are loaded again only for another
data_dir.

On several hosts: start ``dask-scheduler`` on one, ``dask-worker --nthreads 1 --nworkers N
tcp://SCHEDULER:8786`` on each (with this package and the databases installed), and pass
``--scheduler tcp://SCHEDULER:8786``; every worker must see the files under the same paths.
Progress is Dask's bar on standard error when that is a terminal. Exit status: 0 nothing
found, 1 a virus or a suspicious file found, 2 the scan could not run.
"""
from __future__ import annotations

import argparse
import collections
import json
import operator
import os
import queue
import stat
import sys
import threading
from typing import Any, Iterator

import quarn

# The paths of a task, when --chunk does not say.
DEFAULT_CHUNK = 1000
# The counters of a summary, for a run that scanned no file at all.
SUMMARY_COUNTERS = ("infected", "suspicious", "scanned", "total", "cleaned", "deleted", "renamed",
                    "incomplete")
# A task that raised runs this many times more before the run fails.
TASK_RETRIES = 2


def split_path(path: bytes) -> tuple[bytes, bytes]:
    """A path as its folder, with the last slash, and its name; "/" is its own name."""
    folder, slash, name = path.rpartition(b"/")
    return (folder + slash, name) if name else (b"", path)


def walk(root: str) -> Iterator[tuple[bytes, list[bytes]]]:
    """The files under `root` in quarnscan's order, as runs of one folder's files: (the
    folder with its last slash, their names). A folder that cannot be listed is given as a
    file of its parent, for its scan to report it unreadable."""
    top = os.fsencode(root)
    facts = os.lstat(top)
    if not stat.S_ISDIR(facts.st_mode):
        folder, name = split_path(top)
        yield folder, [name]
        return
    mount = facts.st_dev
    by_name = operator.attrgetter("name")

    def listed(folder: bytes) -> list[os.DirEntry] | None:
        try:
            with os.scandir(folder) as entries:
                found = list(entries)
        except OSError:
            return None
        found.sort(key=by_name, reverse=True)
        return found

    first = listed(top)
    if first is None:
        folder, name = split_path(top)
        yield folder, [name]
        return
    # Each level's folder and its entries still to visit, the first last.
    pending: list[tuple[bytes, list[os.DirEntry]]] = [(top.rstrip(b"/") + b"/", first)]
    while pending:
        folder, level = pending[-1]
        files: list[bytes] = []
        deeper: tuple[bytes, list[os.DirEntry]] | None = None
        while level and deeper is None:
            entry = level.pop()
            try:
                if entry.is_file(follow_symlinks=False):
                    files.append(entry.name)
                elif entry.is_dir(follow_symlinks=False) and entry.stat(
                        follow_symlinks=False).st_dev == mount:
                    below = listed(entry.path)
                    if below is None:
                        files.append(entry.name)
                    else:
                        deeper = (entry.path + b"/", below)
            except OSError:
                continue
        if files:
            yield folder, files
        if deeper is not None:
            pending.append(deeper)
        elif not level:
            pending.pop()


def manifest_paths(manifest: str) -> Iterator[tuple[bytes, list[bytes]]]:
    """The manifest's paths, made absolute, as runs of one folder's files (as walk gives)."""
    run_folder, run = b"", []
    with open(manifest, "rb") as lines:
        for line in lines:
            line = line.rstrip(b"\n")
            if not line:
                continue
            folder, name = split_path(os.path.abspath(line))
            if run and folder != run_folder:
                yield run_folder, run
                run = []
            run_folder = folder
            run.append(name)
    if run:
        yield run_folder, run


def walk_ahead(runs: Iterator[tuple[bytes, list[bytes]]]) -> queue.SimpleQueue:
    """Takes `runs` on a thread of its own, from now on: the runs one by one, then None, or
    the error that ended them."""
    found: queue.SimpleQueue = queue.SimpleQueue()

    def take() -> None:
        try:
            for run in runs:
                found.put(run)
            found.put(None)
        except BaseException as failure:  # handed to the reader, who raises it
            found.put(failure)

    threading.Thread(target=take, name="quarn-walk", daemon=True).start()
    return found


def task_batches(found: queue.SimpleQueue,
                 chunk: int) -> Iterator[list[tuple[tuple[bytes, bytes], ...]]]:
    """The tasks over the runs `found` brings, as scan_task takes them, in the walk's order
    and in batches of those that could be made at once: a task holds `chunk` files (the last
    may hold fewer)."""
    pending: collections.deque[tuple[bytes, list[bytes]]] = collections.deque()
    count = 0
    ended = False
    while not ended or count:
        # Take what the walk has found, waiting for more only while no task can be made.
        while not ended and (count < chunk or not found.empty()):
            run = found.get()
            if run is None:
                ended = True
            elif isinstance(run, BaseException):
                raise run
            else:
                pending.append(run)
                count += len(run[1])
        batch = []
        while count >= chunk or (ended and count):
            room = min(count, chunk)
            count -= room
            task = []
            while room:
                folder, names = pending[0]
                if len(names) <= room:
                    pending.popleft()
                    taken = names
                else:
                    taken, pending[0] = names[:room], (folder, names[room:])
                task.append((folder, b"\0".join(taken)))
                room -= len(taken)
            batch.append(tuple(task))
        if batch:
            yield batch


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
                        help=f"N paths a task (default {DEFAULT_CHUNK})")
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


def show_progress(futures: list[Any]) -> None:
    """Dask's text progress bar over `futures`, drawn on standard error: standard output may
    be the scan's."""
    from distributed.diagnostics.progressbar import TextProgressBar

    class StderrProgressBar(TextProgressBar):
        def _draw_bar(self, remaining: int, all: int, **kwargs: Any) -> None:
            done = 1 - remaining / all if all else 1.0
            sys.stderr.write(f"\r[{'#' * int(self.width * done):<{self.width}}] | "
                             f"{int(100 * done)}% Completed")
            sys.stderr.flush()

        def _draw_stop(self, **kwargs: Any) -> None:
            sys.stderr.write("\33[2K\r")
            sys.stderr.flush()

    threading.Thread(target=StderrProgressBar, args=(futures,), daemon=True).start()


def register_engine(client: Any, data_dir: str | None) -> None:
    """Has every worker of `client`'s cluster, and every worker that joins it, open one
    engine on `data_dir`; nothing is done when that is so already, so that a caller may ask
    before every scan without its workers loading the databases again."""
    import pickle

    from .dask_worker import PLUGIN_NAME, EnginePlugin

    # Nested, so that it is sent by value: the scheduler need not have this package.
    def registered(dask_scheduler: Any) -> bytes | None:
        return dask_scheduler.worker_plugins.get(PLUGIN_NAME)

    try:
        held = client.run_on_scheduler(registered)
    except Exception:  # a scheduler that runs no function sent to it: registered again
        held = None
    if held is not None:
        try:
            if getattr(pickle.loads(held), "data_dir", None) == data_dir:
                return
        except Exception:  # another program's plugin under the name: replaced
            pass
    client.register_worker_plugin(EnginePlugin(data_dir), name=PLUGIN_NAME)


def scan(client: Any, root: str | os.PathLike | None = None, *, manifest: Any = None,
         output: Any, chunk: int = DEFAULT_CHUNK, data_dir: str | None = None,
         **options: Any) -> dict[str, Any]:
    """Scans `root` (a folder or a file), or the paths of the file `manifest`, on the
    cluster of `client` (a connected ``distributed.Client``) and writes the JSON lines to
    `output`, a path or a text file open for writing. Returns the summary, the last line, as
    a dict. The options are quarn.Engine.scan_path's but ``action``.

    TypeError or ValueError for wrong options, OSError when `root` or `manifest` cannot be
    read, quarn.Error when a worker's engine cannot open."""
    if (root is None) == (manifest is None):
        raise TypeError("scan() takes one of root and manifest")
    if "action" in options:
        raise TypeError("a distributed scan only reports: action is not an option")
    if isinstance(chunk, bool) or not isinstance(chunk, int) or chunk < 1:
        raise ValueError(f"chunk must be a positive int, not {chunk!r}")
    quarn._checked_options(**options)
    if root is not None:
        os.lstat(root)
        runs = walk(os.path.abspath(root))
    else:
        runs = manifest_paths(manifest)
    return scan_found(client, walk_ahead(runs), output, chunk, data_dir, options)


def submit(client: Any, batch: list[Any], options: dict[str, Any]) -> list[Any]:
    """The tasks of `batch`, handed to the scheduler. In a function of its own, and short:
    the client reads the source of the function that calls it, at every call."""
    from .dask_worker import scan_task
    return client.map(scan_task, batch, options=options, retries=TASK_RETRIES, pure=False)


def scan_found(client: Any, found: queue.SimpleQueue, output: Any, chunk: int,
               data_dir: str | None, options: dict[str, Any]) -> dict[str, Any]:
    """scan() over the runs of files a walk_ahead brings, its options checked."""
    if isinstance(output, (str, bytes, os.PathLike)):
        with open(output, "w", encoding="utf-8") as opened:
            return scan_found(client, found, opened, chunk, data_dir, options)
    from distributed import as_completed

    register_engine(client, data_dir)
    # The walk goes on while the first tasks run; each task's lines are written as it
    # completes, its result fetched by the client's own loop while earlier ones are written.
    done = as_completed(loop=client.loop, with_results=True)
    futures: list[Any] = []
    for batch in task_batches(found, chunk):
        futures += submit(client, batch, options)
        done.update(futures[-len(batch):])
    if sys.stderr.isatty():
        show_progress(futures)
    del futures
    totals = dict.fromkeys(SUMMARY_COUNTERS, 0)
    for future, result in done:
        if isinstance(result, BaseException):  # cancelled: the client or its scheduler went
            raise result
        future.release()  # the worker may forget the result once it is written
        text, counters = result
        output.write(text)
        output.flush()
        for name, value in counters.items():
            totals[name] = totals.get(name, 0) + value
    summary = {"event": "summary", **totals}
    output.write(json.dumps(summary, separators=(",", ":")) + "\n")
    output.flush()
    return summary


def main(arguments: list[str] | None = None) -> int:
    parsed = parse_arguments(arguments)
    options = scan_options(parsed)
    try:
        quarn._checked_options(**options)
        if parsed.root is not None:
            os.lstat(parsed.root)
    except (ValueError, OSError) as failure:
        print(f"dask_scan: {failure}", file=sys.stderr)
        return 2
    # The walk starts before Dask is imported and the cluster reached, which take a while.
    found = walk_ahead(manifest_paths(parsed.manifest) if parsed.manifest
                       else walk(os.path.abspath(parsed.root)))
    from distributed import Client, LocalCluster

    cluster = None
    if parsed.scheduler is None:
        cluster = LocalCluster(n_workers=parsed.workers, threads_per_worker=1,
                               processes=True, dashboard_address=None)
    output = parsed.output or open(sys.stdout.fileno(), "w", encoding="utf-8", closefd=False)
    try:
        with Client(parsed.scheduler or cluster) as client:
            summary = scan_found(client, found, output, parsed.chunk, parsed.data_dir, options)
    except (quarn.Error, OSError) as failure:
        # A worker's engine that did not open, a manifest that cannot be read.
        print(f"dask_scan: {failure}", file=sys.stderr)
        return 2
    finally:
        if not parsed.output:
            output.close()
        if cluster is not None:
            cluster.close()
    return 1 if summary["infected"] or summary["suspicious"] else 0


if __name__ == "__main__":
    status = main()
    # All is written, closed and stopped by now: the interpreter's own teardown, with Dask
    # loaded, would only add a sizeable share of a short run's time.
    sys.stdout.flush()
    sys.stderr.flush()
    os._exit(status)
