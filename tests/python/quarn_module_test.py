#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""The module quarn against quarnscan on the samples, and its answers to wrong use.

quarn_module_test.py --bin DIR --data DIR --samples DIR [unittest arguments], with the built
package on PYTHONPATH.
"""
import os
import pathlib
import shutil
import tempfile
import threading
import unittest

import built_tree

import quarn

ARGS = None


def without_paths(events):
    return [{key: value for key, value in event.items() if key not in ("path", "host_path")}
            for event in events]


class QuarnModuleTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.engine = quarn.Engine(ARGS.data)
        cls.scratch = pathlib.Path(tempfile.mkdtemp(prefix="quarn-module-"))

    @classmethod
    def tearDownClass(cls):
        cls.engine.close()
        shutil.rmtree(cls.scratch)

    def infected_sample(self):
        for event in self.engine.scan_path(ARGS.samples):
            if event["event"] == "detection" and "!" not in event["path"]:
                return pathlib.Path(event["host_path"])
        self.fail("no infected file among the samples")

    def test_scan_path_gives_quarnscan_events_on_two_threads_at_once(self):
        cases = [({}, []),
                 ({"files": "all", "containers": "none", "heuristics": False},
                  [("files", "all"), ("containers", "none"), ("heuristics", "off")])]
        results = {}

        def scan(index, keywords):
            results[index] = self.engine.scan_path(ARGS.samples, **keywords)

        threads = [threading.Thread(target=scan, args=(index, keywords))
                   for index, (keywords, _) in enumerate(cases)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        for index, (keywords, options) in enumerate(cases):
            expected = built_tree.quarnscan_events(
                pathlib.Path(ARGS.bin), ARGS.data, ARGS.samples, options, self.scratch)
            self.assertIn("detection", [event["event"] for event in expected])
            self.assertEqual(results[index], expected, keywords)

    def test_scan_bytes_of_each_sample_is_its_scan_path(self):
        samples = sorted(path for path in pathlib.Path(ARGS.samples).iterdir() if path.is_file())
        for path in samples:
            with self.subTest(path=path.name):
                by_path = self.engine.scan_path(path, files="all")
                by_bytes = self.engine.scan_bytes(path.read_bytes(), path.name, files="all")
                self.assertEqual(without_paths(by_bytes), without_paths(by_path))
        # The same files in one scan: their events in order, one summary of their sums.
        together = self.engine.scan_paths(samples, files="all")
        one_by_one = [self.engine.scan_path(path, files="all") for path in samples]
        self.assertEqual(together[:-1], [event for events in one_by_one for event in events[:-1]])
        self.assertEqual({name: sum(events[-1][name] for events in one_by_one)
                          for name in together[-1] if name != "event"},
                         {name: value for name, value in together[-1].items() if name != "event"})
        with self.assertRaises(quarn.ScanError):
            self.engine.scan_paths([samples[0], self.scratch / "missing.com"])
        with open(self.infected_sample(), "rb") as opened:
            by_fd = self.engine.scan_fd(opened.fileno())
            self.assertEqual(by_fd[0]["path"], f"fd:{opened.fileno()}")
            self.assertEqual(opened.tell(), 0)

    def test_wrong_use_raises(self):
        missing = self.scratch / "missing.com"
        with self.assertRaises(quarn.ScanError) as raised:
            self.engine.scan_path(missing)
        self.assertEqual(raised.exception.path, str(missing))
        self.assertIn(str(missing), str(raised.exception))
        with self.assertRaises(TypeError):
            self.engine.scan_bytes(ARGS.samples)
        descriptor = os.open(ARGS.samples, os.O_RDONLY)
        os.close(descriptor)
        with self.assertRaises(quarn.ScanError):
            self.engine.scan_fd(descriptor)
        for keywords, error in (({"files": "some"}, ValueError), ({"max_depth": "deep"}, ValueError),
                                ({"heuristics": "on"}, TypeError), ({"max_width": 3}, TypeError)):
            with self.subTest(keywords=keywords), self.assertRaises(error):
                self.engine.scan_path(ARGS.samples, **keywords)
        damaged = self.scratch / "damaged"
        shutil.copytree(ARGS.data, damaged)
        with open(damaged / "QUARN.DAT", "r+b") as database:
            database.truncate(os.path.getsize(damaged / "QUARN.DAT") // 2)
        with self.assertRaises(quarn.DatabaseError):
            quarn.Engine(damaged)

    def test_closing_the_generator_cancels_and_the_busy_engine_refuses_close(self):
        folder = self.scratch / "copies"
        folder.mkdir()
        infected = self.infected_sample()
        copies = 200
        for index in range(copies):
            shutil.copy(infected, folder / f"C{index:04d}{infected.suffix}")
        engine = quarn.Engine(ARGS.data)
        events = engine.iter_path(folder, action="rename")
        self.assertEqual(next(events)["event"], "detection")
        # The scan waits on its full queue, still running.
        with self.assertRaises(quarn.EngineBusyError):
            engine.close()
        events.close()
        untouched = len([name for name in os.listdir(folder) if name.startswith("C")
                         and name.endswith(infected.suffix)])
        self.assertGreater(untouched, copies // 2)
        engine.close()
        self.assertTrue(engine.closed)
        with self.assertRaises(ValueError):
            engine.scan_path(folder)


if __name__ == "__main__":
    ARGS = built_tree.arguments()
    unittest.main()
