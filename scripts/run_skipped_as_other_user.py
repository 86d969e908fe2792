#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Runs again, as the other kind of user, the tests the release suite skipped.

scripts/run_skipped_as_other_user.py [TEST_PRESET]

The rights model has tests that only root can run (taking another user's identity, hiding
/proc, peer credentials of another user) and tests that root cannot (root writes anywhere).
After `ctest --preset TEST_PRESET` (release unless named), each GoogleTest program's report (GTEST_OUTPUT, written to
build/release/testresults) names the tests it skipped; this runs them again with the same
environment and folder as CTest did: as nobody when run as root, else as root through
`sudo -n`. What still skips is printed with its reason, never left silent. Exits non-zero
when a test fails. (A user namespace of `unshare -Ur` is no stand-in for root here: it maps one
user only, and these tests take another.)
"""
import json
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

ROOT = pathlib.Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "release"
NOBODY = 65534


def skipped_tests(report):
    """The names of the tests a GoogleTest XML report marks skipped, with their reasons."""
    skipped = {}
    for case in ElementTree.parse(report).iter("testcase"):
        mark = case.find("skipped")
        if mark is not None:
            name = case.get("classname") + "." + case.get("name")
            skipped[name] = reason_of(mark)
    return skipped


def reason_of(mark):
    # The message is "file:line\nreason"; the reason alone is what a reader wants.
    lines = [line for line in (mark.get("message") or "").splitlines() if line.strip()]
    return lines[-1] if lines else "no reason given"


def other_identity():
    """The command prefix that runs a program as the other kind of user, its name, and the
    user id that must own its scratch folder; (None, why not, None) when there is none."""
    if os.geteuid() == 0:
        prefix = ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups"]
        return prefix, "nobody", NOBODY
    if shutil.which("sudo") and subprocess.run(["sudo", "-n", "true"],
                                               capture_output=True).returncode == 0:
        return ["sudo", "-n"], "root", 0
    return None, "needs root: run ./test.sh as root or allow sudo -n", None


def main():
    preset = sys.argv[1] if len(sys.argv) > 1 else "release"
    listing = subprocess.run(["ctest", "--preset", preset, "--show-only=json-v1"],
                             capture_output=True, text=True, check=True, cwd=ROOT)
    prefix, identity, owner = other_identity()
    passed, failed, still_skipped = [], [], []
    for test in json.loads(listing.stdout)["tests"]:
        report = BUILD / "testresults" / (test["name"] + ".xml")
        if not report.exists() or "command" not in test:
            continue
        skipped = skipped_tests(report)
        if not skipped:
            continue
        if prefix is None:
            still_skipped += [(name, f"{reason}; {identity}") for name, reason in skipped.items()]
            continue
        properties = {p["name"]: p["value"] for p in test.get("properties", [])}
        with tempfile.TemporaryDirectory(prefix="quarn-other-user-") as scratch:
            os.chown(scratch, owner, owner)
            os.chmod(scratch, 0o700)
            rerun_report = os.path.join(scratch, "report.xml")
            environment = list(properties.get("ENVIRONMENT", []))
            # The suite's scratch folders and home belong to its own user.
            environment += [f"QUARN_TEST_TMP={scratch}/tmp", f"HOME={scratch}",
                            f"GTEST_OUTPUT=xml:{rerun_report}"]
            command = prefix + ["env"] + environment + test["command"] + [
                "--gtest_filter=" + ":".join(sorted(skipped))]
            result = subprocess.run(command, cwd=properties.get("WORKING_DIRECTORY", BUILD),
                                    capture_output=True, text=True)
            if not os.path.exists(rerun_report):
                failed.append(f"{test['name']} did not run as {identity}: "
                              f"{(result.stderr or result.stdout).strip()[-400:]}")
                continue
            again = skipped_tests(rerun_report)
            failed_before = len(failed)
            for case in ElementTree.parse(rerun_report).iter("testcase"):
                name = case.get("classname") + "." + case.get("name")
                if name not in skipped:
                    continue
                if name in again:
                    still_skipped.append((name, f"{again[name]} (as {identity}); "
                                                f"{skipped[name]} (as the suite's user)"))
                elif case.find("failure") is not None:
                    failed.append(f"{name} as {identity}")
                else:
                    passed.append(name)
            if result.returncode != 0 and len(failed) == failed_before:
                failed.append(f"{test['name']} as {identity}: {result.stdout.strip()[-400:]}")
    if prefix:
        print(f"{len(passed)} tests the suite skipped passed as {identity}:")
        for name in passed:
            print(f"  {name}")
    for name in failed:
        print(f"FAILED: {name}")
    if still_skipped:
        print(f"{len(still_skipped)} tests skipped:")
        for name, reason in still_skipped:
            print(f"  {name}: {reason}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
