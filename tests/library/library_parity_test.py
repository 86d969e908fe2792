#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""libquarn's events against quarnscan's, and its answers to wrong use.

A C program on the library scans the samples (and the disk images and archives among them) on
three threads over one engine; its events must be those of `quarnscan --json --no-memory` over
the same files with the same options, in the same order, without the events a library has no
use for ("line", "memory", "message"). quarnscan is given a drive map that holds none of the
samples, so that it names them by their host paths, as the library does.
"""
import argparse
import json
import pathlib
import subprocess
import sys
import tempfile

LIBRARY_LESS = {"line", "memory", "message"}


def quarnscan_events(bin_dir, data, samples, options, scratch):
    settings = scratch / "settings.reg"
    empty = scratch / "empty"
    empty.mkdir(exist_ok=True)
    command = [str(bin_dir / "quarnscan"), "--settings", str(settings), "--data-dir", data,
               "--no-log", "--no-memory", "--json", "--drive", f"Z:={empty}"]
    for name, value in options:
        command += [f"--{name}", value]
    paths = samples if isinstance(samples, list) else [samples]
    run = subprocess.run(command + paths, capture_output=True, text=True)
    if run.returncode not in (0, 1):
        sys.exit(f"quarnscan failed ({run.returncode}): {run.stderr}")
    events = [json.loads(line) for line in run.stdout.splitlines()]
    return [event for event in events if event["event"] not in LIBRARY_LESS]


def library_events(bin_dir, data, samples, options, threads=3, together=False):
    """`samples`: one path, or a list of paths scanned in one call (`together`) or one each."""
    paths = samples if isinstance(samples, list) else [samples]
    command = [str(bin_dir / "quarn_events"), data, str(threads)]
    command += ["--together"] if together else []
    command += [f"{name}={value}" for name, value in options] + ["--"] + paths
    run = subprocess.run(command, capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit(f"quarn_events failed ({run.returncode}): {run.stderr}")
    return [json.loads(line) for line in run.stdout.splitlines()]


def exported_symbols(library):
    listing = subprocess.run(["nm", "-D", "--defined-only", library], capture_output=True,
                             text=True, check=True).stdout
    # The version node (type A) is no symbol of code or data.
    return sorted(line.split()[-1] for line in listing.splitlines()
                  if line.strip() and line.split()[-2] != "A")


def soname(library):
    dynamic = subprocess.run(["readelf", "-d", library], capture_output=True, text=True,
                             check=True).stdout
    for line in dynamic.splitlines():
        if "(SONAME)" in line:
            return line.split("[")[1].rstrip("]")
    return None


def main():
    parser = argparse.ArgumentParser()
    for name in ("bin", "lib", "data", "samples"):
        parser.add_argument(f"--{name}", required=True)
    args = parser.parse_args()
    bin_dir = pathlib.Path(args.bin)
    faults = []

    foreign = [name for name in exported_symbols(args.lib) if not name.startswith("quarn_")]
    if foreign:
        faults.append(f"exported besides quarn_*: {foreign[:10]}")
    if soname(args.lib) != "libquarn.so.0":
        faults.append(f"SONAME is {soname(args.lib)}")

    with tempfile.TemporaryDirectory() as scratch_name:
        scratch = pathlib.Path(scratch_name)
        for options in ([], [("files", "all")], [("files", "all"), ("containers", "none"),
                                                 ("heuristics", "off")]):
            expected = quarnscan_events(bin_dir, args.data, args.samples, options, scratch)
            got = library_events(bin_dir, args.data, args.samples, options)
            if not any(event["event"] == "detection" for event in expected):
                faults.append(f"{options}: quarnscan found nothing: the comparison proves nothing")
            if got != expected:
                for index, (one, other) in enumerate(zip(got, expected)):
                    if one != other:
                        faults.append(f"{options}: event {index}: library {one} "
                                      f"!= quarnscan {other}")
                        break
                else:
                    faults.append(f"{options}: {len(got)} events from the library, "
                                  f"{len(expected)} from quarnscan")

        # Several targets in one call: one scan, one summary, as quarnscan's over the same list.
        several = [str(pathlib.Path(args.samples) / name)
                   for name in ("eicar.com", "images", "clean.com", "com_backward.com")]
        if (library_events(bin_dir, args.data, several, [("files", "all")], together=True) !=
                quarnscan_events(bin_dir, args.data, several, [("files", "all")], scratch)):
            faults.append("several targets in one call: the events differ from quarnscan's")

        # An action asked for: the same files cleaned to the same bytes, with the same events.
        for action in ("clean", "rename"):
            copies = {}
            for side in ("library", "quarnscan"):
                copies[side] = scratch / f"{action}-{side}"
                copies[side].mkdir()
                for sample in sorted(pathlib.Path(args.samples).glob("com_*.com")):
                    (copies[side] / sample.name).write_bytes(sample.read_bytes())
            options = [("action", action)]
            got = library_events(bin_dir, args.data, str(copies["library"]), options, threads=1)
            expected = quarnscan_events(bin_dir, args.data, str(copies["quarnscan"]), options,
                                        scratch)
            side_free = lambda events, side: json.dumps(events).replace(str(copies[side]), "")
            if not any(event["event"] == "action" and event["ok"] for event in got):
                faults.append(f"{action}: the library took no action")
            if side_free(got, "library") != side_free(expected, "quarnscan"):
                faults.append(f"{action}: the library's events differ from quarnscan's")
            left = {path.name: path.read_bytes() for path in copies["library"].iterdir()}
            if left != {path.name: path.read_bytes() for path in copies["quarnscan"].iterdir()}:
                faults.append(f"{action}: the library left other files than quarnscan")

    misuse = subprocess.run([str(bin_dir / "quarn_events"), args.data, "--misuse",
                             args.samples], capture_output=True, text=True)
    if misuse.returncode != 0:
        faults.append(f"wrong use: {misuse.stdout}{misuse.stderr}")

    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
