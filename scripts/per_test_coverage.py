#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Which tests run production code that no other test runs.

    scripts/per_test_coverage.py collect [BUILD_DIR]   # after scripts/coverage.sh built BUILD_DIR
    scripts/per_test_coverage.py report [--keep WORD,...] [--share 0.99] [--nearest FILE]

`collect` runs every GoogleTest case of the release suite alone (and each Qt test program
whole), with its gcov counters written under a prefix of its own, and keeps the arc counters
that case made nonzero in functions of the project's production sources; the fuzzers' fixed
runs are left out, as they assert no outcome. `report` then picks, greedily by lines of test
code per newly covered arc, the cases that cover what the whole suite covers (or the share
given), starting from the cases whose names hold a --keep word, and lists by file the test
bodies that the pick leaves out: every arc they run is run by a test that stays. Arcs are
finer than gcovr's lines and branches, so a body listed here adds no line or branch either.
A test that runs random or empty input (its name says Random, NeverCrash or Fuzz) is counted
as covering nothing: it proves only that nothing crashes.
"""
import argparse
import signal
import collections
import heapq
import json
import os
import pickle
import re
import shutil
import struct
import subprocess
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
STORE = 'per_test_coverage.pickle'
GCDA_MAGIC_BYTES = 16
TAG_FUNCTION = 0x01000000
TAG_ARC_COUNTERS = 0x01a10000
NOT_PRODUCTION_TOPS = ('fuzz', 'bench', 'samplegen', 'tests', 'build', 'res')
ASSERTS_NOTHING = ('Random', 'NeverCrash', 'Fuzz')
TEST_MACRO = re.compile(r'^\s*(?:TEST|TEST_F|TEST_P|TYPED_TEST)\(\s*(\w+)\s*,\s*(\w+)\s*\)')


def production_source(relative):
    name = os.path.basename(relative)
    return not (name.endswith(('_test.cpp', '_test_support.h')) or 'test_support' in relative
                or relative.split('/')[0] in NOT_PRODUCTION_TOPS)


def nonzero_arcs(gcda_path):
    """(function ident, counter index) of every nonzero arc counter in one .gcda file."""
    data = open(gcda_path, 'rb').read()
    position, function, hits = GCDA_MAGIC_BYTES, None, []
    while position + 8 <= len(data):
        tag, length = struct.unpack_from('<Ii', data, position)
        position += 8
        if tag == TAG_FUNCTION:
            function = struct.unpack_from('<I', data, position)[0]
        elif tag == TAG_ARC_COUNTERS and length > 0:
            counts = struct.unpack_from('<%dq' % (length // 8), data, position)
            hits.extend((function, i) for i, count in enumerate(counts) if count)
        # A negative length is a run of zero counters written without data.
        position += max(length, 0)
    return hits


def production_functions(build):
    """(object's .gcda path inside BUILD, function ident) of functions defined in the project's
    production sources, as each object's notes name their source."""
    pattern = re.compile(r"FUNCTION ident=(\d+),.*' (\S+):\d+:\d+-\d+:\d+")
    functions = set()
    for folder, _, files in os.walk(build):
        for name in files:
            if not name.endswith('.gcno'):
                continue
            notes = os.path.join(folder, name)
            dump = subprocess.run(['gcov-dump', notes], capture_output=True, text=True).stdout
            gcda = os.path.relpath(notes, build)[:-len('.gcno')] + '.gcda'
            for match in map(pattern.search, dump.splitlines()):
                if not match:
                    continue
                source = os.path.normpath(os.path.join(build, match.group(2)))
                relative = os.path.relpath(source, ROOT)
                if not relative.startswith('..') and production_source(relative):
                    functions.add((gcda, int(match.group(1))))
    return functions


def footprint(prefix, build, functions):
    root = prefix + build
    arcs = set()
    for folder, _, files in os.walk(root):
        for name in files:
            if name.endswith('.gcda'):
                gcda = os.path.relpath(os.path.join(folder, name), root)
                arcs.update((gcda, f, i) for f, i in nonzero_arcs(os.path.join(folder, name))
                            if (gcda, f) in functions)
    return arcs


def jobs_of(build):
    listing = subprocess.run(['ctest', '--show-only=json-v1', '-LE', 'load|mutant'], cwd=build,
                             capture_output=True, text=True, check=True).stdout
    for test in json.loads(listing)['tests']:
        properties = {p['name']: p['value'] for p in test.get('properties', [])}
        env = dict(os.environ)
        env.update(kv.split('=', 1) for kv in properties.get('ENVIRONMENT') or [])
        env.pop('GTEST_OUTPUT', None)
        cwd, command = properties.get('WORKING_DIRECTORY', build), test['command']
        if test['name'] == 'layers' or test['name'].endswith('_fuzz'):
            continue
        if 'QT_QPA_PLATFORM' in env:
            yield test['name'], command, env, cwd
            continue
        listed = subprocess.run([command[0], '--gtest_list_tests'], capture_output=True,
                                text=True).stdout
        suite = None
        for line in filter(str.strip, listed.splitlines()):
            if not line.startswith(' '):
                suite = line.split('#')[0].strip()
                continue
            case = suite + line.split('#')[0].strip()
            yield f"{test['name']}:{case}", command + ['--gtest_filter=' + case], env, cwd


def collect(build, jobs):
    functions = production_functions(build)
    store = os.path.join(build, STORE)
    done = pickle.load(open(store, 'rb')) if os.path.exists(store) else {}
    scratch = tempfile.mkdtemp(prefix='per-test-')

    def run(job):
        name, command, env, cwd = job
        prefix = os.path.join(scratch, re.sub(r'[^\w.-]', '_', name)[:200])
        env = dict(env, GCOV_PREFIX=prefix, GCOV_PREFIX_STRIP='0')
        try:
            status = subprocess.run(command, env=env, cwd=cwd, capture_output=True,
                                    timeout=900).returncode
        except subprocess.TimeoutExpired:
            status = 'timeout'
        arcs = footprint(prefix, build, functions)
        shutil.rmtree(prefix, ignore_errors=True)
        return name, status, arcs

    todo = [job for job in jobs_of(build) if job[0] not in done]
    with ThreadPoolExecutor(jobs) as pool:
        for count, (name, status, arcs) in enumerate(pool.map(run, todo), 1):
            done[name] = arcs
            print(f'{count}/{len(todo)} {name}: status {status}, {len(arcs)} arcs', flush=True)
            if count % 25 == 0 or count == len(todo):
                pickle.dump(done, open(store + '.part', 'wb'))
                os.replace(store + '.part', store)
    shutil.rmtree(scratch, ignore_errors=True)


def test_bodies():
    """(suite, name) -> (file, first line, lines) of every TEST macro's body."""
    files = subprocess.run(['git', '-C', ROOT, 'ls-files', '*.cpp', '*.h'], capture_output=True,
                           text=True, check=True).stdout.split()
    bodies = {}
    for path in files:
        lines = open(os.path.join(ROOT, path), errors='replace').read().split('\n')
        for number, line in enumerate(lines):
            if match := TEST_MACRO.match(line):
                end = number
                while end < len(lines) and not lines[end].startswith('}'):
                    end += 1
                bodies[match.groups()] = (path, number + 1, end - number + 1)
    return bodies


def body_key(case):
    """"program:Prefix/Suite.Name/3" -> ("Suite", "Name")."""
    suite, name = case.split(':', 1)[1].split('.', 1)
    return suite.split('/')[-1], name.split('/')[0]


def report(build, keep_words, share, nearest_file):
    stored = pickle.load(open(os.path.join(build, STORE), 'rb'))
    index = {}
    arcs = {name: frozenset(index.setdefault(a, len(index)) for a in found)
            for name, found in stored.items()}
    for name in arcs:
        if any(word in name for word in ASSERTS_NOTHING):
            arcs[name] = frozenset()
    bodies = test_bodies()
    cases = [name for name in arcs if ':' in name]
    instances = collections.Counter(map(body_key, cases))

    def cost(name):
        body = bodies.get(body_key(name)) if ':' in name else None
        return (body[2] if body else 10) / (instances[body_key(name)] if body else 1) + 3

    kept = {n for n in arcs if ':' not in n or any(word in n for word in keep_words)}
    covered = set().union(*(arcs[n] for n in kept))
    everything = set().union(*arcs.values())
    goal = share * len(everything)
    heap = [(-len(arcs[n] - covered) / cost(n), n) for n in arcs if n not in kept]
    heapq.heapify(heap)
    while heap and len(covered) < goal:
        priority, name = heapq.heappop(heap)
        gain = len(arcs[name] - covered)
        if gain == 0:
            continue
        if -priority > gain / cost(name) + 1e-12:
            heapq.heappush(heap, (-gain / cost(name), name))
            continue
        kept.add(name)
        covered |= arcs[name]
    by_body = collections.defaultdict(list)
    for name in cases:
        by_body[body_key(name)].append(name)
    left_out = [key for key, names in by_body.items()
                if key in bodies and not any(n in kept for n in names)]
    by_file = collections.defaultdict(list)
    for key in left_out:
        by_file[bodies[key][0]].append(key)
    total = sum(bodies[key][2] for key in left_out)
    print(f'{len(everything)} production arcs; {len(kept)} of {len(arcs)} runs kept cover '
          f'{len(covered)}; {len(left_out)} test bodies of {total} lines add none')
    out = open(nearest_file, 'w') if nearest_file else None
    for path in sorted(by_file, key=lambda p: -sum(bodies[k][2] for k in by_file[p])):
        print(f'{sum(bodies[k][2] for k in by_file[path]):6d} {path}')
        for key in sorted(by_file[path], key=lambda k: bodies[k][1]):
            line = f'    line {bodies[key][1]} ({bodies[key][2]} lines) {key[0]}.{key[1]}'
            if out:
                own = frozenset().union(*(arcs[n] for n in by_body[key]))
                near = max(kept, key=lambda n: len(own & arcs[n]))
                line += f'  ~ {near} runs {len(own & arcs[near]) / max(len(own), 1):.0%}'
            (out.write(line + '\n') if out else print(line))


def main():
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    commands = parser.add_subparsers(dest='command', required=True)
    collecting = commands.add_parser('collect')
    collecting.add_argument('build', nargs='?', default=os.path.join(ROOT, 'build/coverage'))
    collecting.add_argument('--jobs', type=int, default=os.cpu_count())
    reporting = commands.add_parser('report')
    reporting.add_argument('build', nargs='?', default=os.path.join(ROOT, 'build/coverage'))
    reporting.add_argument('--keep', default='', help='words naming tests that always stay')
    reporting.add_argument('--share', type=float, default=1.0,
                           help='share of the suite\'s arcs the kept tests must cover')
    reporting.add_argument('--nearest', help='write the list with each body\'s nearest kept run')
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    if args.command == 'collect':
        collect(build, args.jobs)
    else:
        report(build, [w for w in args.keep.split(',') if w], args.share, args.nearest)


if __name__ == '__main__':
    sys.exit(main())
