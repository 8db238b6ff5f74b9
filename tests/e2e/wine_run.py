#!/usr/bin/env python3
"""Runs one Windows program under a Wine loader and ends with its exit status, or with the
skip status after one line that says why, when this machine cannot execute that loader.

Usage: wine_run.py LOADER PROGRAM [ARGUMENT ...]
"""

import subprocess
import sys

import runner
from runner.wine import check_loader_runs


def main():
    loader, program = sys.argv[1:3]
    check_loader_runs(loader)
    return subprocess.run([loader, program] + sys.argv[3:], stdin=subprocess.DEVNULL).returncode


if __name__ == "__main__":
    runner.exit_with(main)
