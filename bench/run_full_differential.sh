#!/usr/bin/env bash
# The read window and the signature index against the plain file and the linear walk, as the
# suite's detection_differential_test checks them, but every corpus file against 65,535
# records a section (the suite: 10,000 and a part of the corpus). Takes minutes: the linear
# walk over every record is the slow side. Arguments go to the test program.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/common.sh
quarn_build_release detection_differential_full
time build/release/bin/detection_differential_full "$@"
