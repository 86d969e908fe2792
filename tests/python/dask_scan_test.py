#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""The Dask scan on a LocalCluster of two workers against quarnscan: called on a client, and
python3 -m quarn.dask_scan with a worker killed while the output is being written.

dask_scan_test.py --bin DIR --data DIR --samples DIR [unittest arguments], with the built
package on PYTHONPATH.
"""
import json
import os
import pathlib
import queue
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import psutil

import built_tree

ARGS = None


def by_place(events):
    return sorted(events, key=lambda event: (event.get("host_path", ""), event.get("path", "")))


class DaskScanTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = pathlib.Path(tempfile.mkdtemp(prefix="quarn-dask-"))
        # Twice the samples, so that the run lasts long enough to lose a worker in it.
        cls.tree = cls.scratch / "tree"
        for copy in ("a", "b"):
            shutil.copytree(ARGS.samples, cls.tree / copy)
        cls.expected = built_tree.quarnscan_events(
            pathlib.Path(ARGS.bin), ARGS.data, str(cls.tree), [("files", "all")], cls.scratch)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch)

    def dask_scan(self, output, chunk):
        return subprocess.Popen(
            [sys.executable, "-m", "quarn.dask_scan", "--workers", "2", "--chunk", str(chunk),
             "--data-dir", ARGS.data, "--files", "all", "--output", str(output), str(self.tree)],
            stderr=subprocess.PIPE, text=True)

    def assert_quarnscan_events(self, output):
        events = [json.loads(line) for line in output.read_text().splitlines()]
        self.assertEqual(events[-1], self.expected[-1])
        self.assertIn("detection", [event["event"] for event in events])
        self.assertEqual(by_place(events[:-1]), by_place(self.expected[:-1]))

    def test_a_worker_killed_during_the_run_changes_nothing(self):
        output = self.scratch / "killed.jsonl"
        output.touch()
        run = self.dask_scan(output, chunk=1)
        workers = []
        while run.poll() is None and not (output.stat().st_size and workers):
            time.sleep(0.05)
            try:
                # The LocalCluster's nannies start each worker as a child of their own.
                workers = [child for child in psutil.Process(run.pid).children()
                           if "spawn_main" in " ".join(child.cmdline())]
            except psutil.Error:  # a process that ended while being looked at
                workers = []
        self.assertIsNone(run.poll(), "the run ended before a worker could be killed")
        self.assertNotIn('"summary"', output.read_text())
        os.kill(workers[0].pid, signal.SIGKILL)
        _, errors = run.communicate()
        self.assertEqual(run.returncode, 1, errors)
        self.assert_quarnscan_events(output)

    # A notebook's calls on a cluster of its own: a scan on the databases the workers hold
    # open already keeps them.
    def test_scan_on_a_client_gives_quarnscan_events_and_opens_the_engines_once(self):
        from distributed import Client, LocalCluster
        from quarn import dask_scan
        from quarn.dask_worker import PLUGIN_NAME

        def marked(dask_worker):  # whether the worker's engine was marked, marking it
            plugin = dask_worker.plugins[PLUGIN_NAME]
            was, plugin.marked = getattr(plugin, "marked", False), True
            return was

        output = self.scratch / "call.jsonl"
        with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster, \
                Client(cluster) as client:
            kept = []
            # The same databases named another way are another plugin: it replaces the first.
            for data in (ARGS.data, ARGS.data, ARGS.data + "/"):
                summary = dask_scan.scan(client, self.tree, output=output, chunk=5,
                                         data_dir=data, files="all")
                kept += client.run(marked).values()
        self.assertEqual(kept, [False, False, True, True, False, False])
        self.assertEqual(summary, self.expected[-1])
        self.assert_quarnscan_events(output)

    def test_tasks_hold_the_walked_files_once_in_walk_order(self):
        from quarn import dask_scan
        runs = [(b"/a/", [b"%d" % i for i in range(2500)]), (b"/b/", [b"x"]), (b"", [b"/"])]
        walked = [folder + name for folder, names in runs for name in names]
        for chunk, sizes in ((7, [7] * 357 + [3]), (1000, [1000, 1000, 502])):
            found = queue.SimpleQueue()
            for run in runs + [None]:
                found.put(run)
            tasks = [task for batch in dask_scan.task_batches(found, chunk)
                     for task in batch]
            paths = [[folder + name for folder, names in task for name in names.split(b"\0")]
                     for task in tasks]
            self.assertEqual([path for task in paths for path in task], walked)
            self.assertEqual([len(task) for task in paths], sizes)


if __name__ == "__main__":
    ARGS = built_tree.arguments()
    unittest.main()
