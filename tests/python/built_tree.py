# SPDX-License-Identifier: Apache-2.0
"""What the Python tests share: the build tree's places from the command line, and quarnscan's
events as the C interface's test reads them (to compare the module's with)."""
import argparse
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "library"))
from library_parity_test import quarnscan_events  # noqa: E402

__all__ = ["arguments", "quarnscan_events"]


def arguments():
    """--bin, --data and --samples; what follows is left in sys.argv for unittest."""
    parser = argparse.ArgumentParser()
    for name in ("bin", "data", "samples"):
        parser.add_argument(f"--{name}", required=True)
    parsed, rest = parser.parse_known_args()
    sys.argv[1:] = rest
    return parsed
