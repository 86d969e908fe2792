#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# scripts/count_test_weight.sh: lines of production code and of tests, counted as the stop
# check counts them: C and C++ files kept in git outside fuzz/, bench/, samplegen/ and res/;
# a test line is one of a *_test.cpp or *_test_support.h file or of any file under a folder
# whose name holds "test", "fixture" or "e2e". Prints both, their ratio, and each folder's.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files '*.cpp' '*.h' '*.cc' '*.c' | grep -v -E '^(fuzz|bench|samplegen|res)/' |
  xargs wc -l | grep -v ' total$' |
  awk '
    {
      lines = $1; path = $2
      test = path ~ /(_test\.cpp|_test_support\.h)$/ || path ~ /(^|\/)[^\/]*(test|fixture|e2e)[^\/]*\//
      split(path, parts, "/"); top = (length(parts) > 1) ? parts[1] : "."
      if (test) { tests += lines; folder_tests[top] += lines } else { production += lines; folder_code[top] += lines }
      folders[top] = 1
    }
    END {
      printf "%-12s %10s %10s %7s\n", "folder", "production", "tests", "ratio"
      for (f in folders) {
        ratio = folder_code[f] ? folder_tests[f] / folder_code[f] : 0
        printf "%-12s %10d %10d %7.2f\n", f, folder_code[f], folder_tests[f], ratio
      }
      printf "%-12s %10d %10d %7.2f\n", "all", production, tests, tests / production
    }' | { read -r header; echo "$header"; sort; }
