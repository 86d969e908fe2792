#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Fails on an include or a link that points up or sideways against the layers.

scripts/check_layers.py [BUILD_DIR]

Reads every #include "folder/..." of the C++ sources, and, given a configured build tree,
the libraries each target links (from CMake's file API), and checks both against LAYERS
below: the README's layer picture written as data. A test file (a *_test.cpp, or anything in
a test_support folder) may use what its layer may use, its own layer's test support and the
test support of the layers below; a test-support library or a test program links no more than that (a target's links are
counted with those of the libraries it links).
"""
import json
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent

# Each layer and the layers it may use, directly or not. Order from the bottom.
LAYERS = {
    "res": set(),
    "platform": set(),
    "engine": {"platform", "res"},
    "clean": {"engine", "platform", "res"},
    "sysarea": {"clean", "engine", "platform", "res"},
    "containers": {"platform"},
    "imported": {"engine", "platform", "res"},
    "shell": {"containers", "sysarea", "clean", "engine", "imported", "platform", "res"},
    "desktop/dialogs": {"shell", "containers", "sysarea", "clean", "engine", "imported",
                        "platform", "res"},
    "desktop": {"desktop/dialogs", "shell", "containers", "sysarea", "clean", "engine",
                "imported", "platform", "res"},
    "dbtool": {"engine", "imported", "platform", "res"},
    "cli": {"shell", "containers", "sysarea", "clean", "engine", "imported", "platform", "res"},
    "daemon": {"shell", "containers", "sysarea", "clean", "engine", "imported", "platform",
               "res"},
    "library": {"cli", "shell", "containers", "sysarea", "clean", "engine", "imported",
                "platform", "res"},
}
# Test data written in code for the tests and the README's main job: test code of the layers
# whose samples it writes.
SAMPLES = {"samplegen": {"sysarea", "clean", "engine", "containers", "platform", "res"}}
# Outside the layers: they may use anything.
FREE = ("tests/", "fuzz/", "bench/", "samples/", "build/", "cmake/", "res/pictures/")

INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+(?:/[a-z_]+)*)/[^/"]+"', re.M)


def layer_of(folder):
    """The layer a folder (relative, with '/') belongs to, and whether it is test support."""
    test_support = folder.endswith("/test_support") or folder == "test_support"
    if test_support:
        folder = folder[: -len("/test_support")]
    best = None
    for layer in list(LAYERS) + list(SAMPLES):
        if folder == layer or folder.startswith(layer + "/"):
            if best is None or len(layer) > len(best):
                best = layer
    return best, test_support


def allowed(layer, is_test):
    lower = LAYERS.get(layer) or SAMPLES.get(layer, set())
    names = set(lower) | {layer}
    if is_test:
        support = {name + "/test_support" for name in names}
        return names | support | {"samplegen"}
    return names


def check_includes():
    faults = []
    for path in sorted(ROOT.rglob("*")):
        if path.suffix not in (".cpp", ".h") or not path.is_file():
            continue
        relative = path.relative_to(ROOT).as_posix()
        if relative.startswith(FREE):
            continue
        folder = path.parent.relative_to(ROOT).as_posix()
        layer, in_support = layer_of(folder)
        if layer is None:
            faults.append(f"{relative}: the folder '{folder}' is in no layer")
            continue
        is_test = in_support or path.name.endswith("_test.cpp") or layer in SAMPLES
        may_use = allowed(layer, is_test)
        for target in INCLUDE.findall(path.read_text(errors="replace")):
            used, used_support = layer_of(target)
            name = used + "/test_support" if used_support else used
            if used is None or name not in may_use:
                faults.append(f"{relative}: includes from '{target}', which {layer} may not use")
    return faults


def configured_copy(build, scratch):
    """Configures `scratch` as `build` is configured, with the file API's query in place first:
    a tree configured before its query existed holds no reply until it is configured again."""
    cache = (build / "CMakeCache.txt").read_text(errors="replace")
    options = []
    for line in cache.splitlines():
        name = line.split(":", 1)[0]
        if name.startswith("QUARN_") or name in ("CMAKE_BUILD_TYPE", "CMAKE_CXX_COMPILER",
                                                 "CMAKE_C_COMPILER", "CMAKE_GENERATOR"):
            key, _, value = line.partition("=")
            if name == "CMAKE_GENERATOR":
                options += ["-G", value]
            else:
                options.append(f"-D{key}={value}")
    query = scratch / ".cmake/api/v1/query/codemodel-v2"
    query.parent.mkdir(parents=True, exist_ok=True)
    query.touch()
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(scratch)] + options, check=True,
                   stdout=subprocess.DEVNULL)
    return scratch


def codemodel(build):
    replies = sorted((build / ".cmake/api/v1/reply").glob("index-*.json"))
    if not replies:
        scratch = pathlib.Path(tempfile.mkdtemp(prefix="quarn-layers-"))
        try:
            return codemodel_of(configured_copy(build, scratch))
        finally:
            shutil.rmtree(scratch, ignore_errors=True)
    return codemodel_of(build)


def codemodel_of(build):
    replies = sorted((build / ".cmake/api/v1/reply").glob("index-*.json"))
    index = json.loads(replies[-1].read_text())
    model_file = index["reply"]["codemodel-v2"]["jsonFile"]
    model = json.loads((build / ".cmake/api/v1/reply" / model_file).read_text())
    targets = {}
    for entry in model["configurations"][0]["targets"]:
        targets[entry["id"]] = json.loads(
            (build / ".cmake/api/v1/reply" / entry["jsonFile"]).read_text())
    return targets


def check_links(build):
    faults = []
    targets = codemodel(build)
    for target in targets.values():
        if target["type"] not in ("EXECUTABLE", "STATIC_LIBRARY", "SHARED_LIBRARY",
                                  "INTERFACE_LIBRARY", "OBJECT_LIBRARY"):
            continue
        folder = target["paths"]["source"]
        if (folder + "/").startswith(FREE) or folder == ".":
            continue
        layer, in_support = layer_of(folder)
        if layer is None:
            faults.append(f"{target['name']}: the folder '{folder}' is in no layer")
            continue
        is_test = in_support or layer in SAMPLES or target["name"].endswith("_test")
        may_use = allowed(layer, is_test)
        for dependency in target.get("dependencies", []):
            other = targets.get(dependency["id"])
            # A shared precompiled header is a build device, not a layer's code.
            if other is None or other["type"] == "UTILITY" or other["name"].endswith("_pch"):
                continue
            other_folder = other["paths"]["source"]
            if (other_folder + "/").startswith(FREE):
                continue
            used, used_support = layer_of(other_folder)
            name = used + "/test_support" if used_support else used
            if used is None or name not in may_use:
                faults.append(f"{target['name']} ({folder}) links {other['name']} "
                              f"({other_folder}), which {layer} may not use")
    return faults


def main():
    faults = check_includes()
    if len(sys.argv) > 1:
        faults += check_links(pathlib.Path(sys.argv[1]).resolve())
    for fault in faults:
        print(fault)
    if faults:
        print(f"check_layers: {len(faults)} arrows against the layers", file=sys.stderr)
        return 1
    print("check_layers: every include and link keeps to the layers")
    return 0


if __name__ == "__main__":
    sys.exit(main())
