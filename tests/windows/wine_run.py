#!/usr/bin/env python3
"""Runs one Windows program under a Wine loader and ends with its exit status, or with the
skip status after one line that says why, when this machine cannot execute that loader.

Usage: wine_run.py LOADER PROGRAM [ARGUMENT ...]
"""

import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import wine_target  # noqa: E402


def main():
    loader, program = sys.argv[1:3]
    wine_target.check_loader_runs(loader)
    return subprocess.run([loader, program] + sys.argv[3:], stdin=subprocess.DEVNULL).returncode


if __name__ == "__main__":
    sys.exit(wine_target.skip_if_cannot_run(main))
