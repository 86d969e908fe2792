# SPDX-License-Identifier: Apache-2.0
"""The worker's side of ``python3 -m quarn.dask_scan``: the plugin that opens each worker's
engine and the task that scans a share of the files with it. A module of its own, so that
the client can walk the tree while it imports Dask."""
from __future__ import annotations

import json
from typing import Any

from distributed import get_worker
from distributed.diagnostics.plugin import WorkerPlugin

import quarn

PLUGIN_NAME = "quarn-engine"
# How the engine's summary line starts: the one line a task reads rather than passes on.
SUMMARY_START = '{"event":"summary"'


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


def scan_task(folders: tuple[tuple[bytes, bytes], ...],
              options: dict[str, Any]) -> tuple[str, dict[str, int]]:
    """Runs on a worker over a task's files, given as (folder, names) pairs: the folder's
    path with its last slash, and its files' names joined by NUL (which no name holds). It
    returns the events but the summaries, as the engine's JSON lines each ended by a newline
    in one str (one object to send back, however many events), and the summed counters of
    the summaries."""
    engine = get_worker().plugins[PLUGIN_NAME].engine
    paths = [folder + name for folder, names in folders for name in names.split(b"\0")]
    lines: list[str] = []
    counters: dict[str, int] = {}
    # One scan for the whole task; only when a path has gone since the walk, one scan a path,
    # leaving out those that are gone.
    try:
        scans = [engine._scan_paths_text(paths, **options)]
    except quarn.ScanError:
        scans = []
        for path in paths:
            try:
                scans.append(engine._scan_paths_text([path], **options))
            except quarn.ScanError:
                continue
    for found in scans:
        for line in found:
            if not line.startswith(SUMMARY_START):
                lines.append(line)
                continue
            for name, value in json.loads(line).items():
                if name != "event":
                    counters[name] = counters.get(name, 0) + value
    return "".join(line + "\n" for line in lines), counters
