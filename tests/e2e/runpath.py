#!/usr/bin/env python3
"""No binary carries an empty or relative RUNPATH entry (the loader reads those against the
current folder): the built tool and library, and a copy installed from the build folder, which
must still find its library.

Usage: runpath.py --cmake CMAKE --build-dir BUILD FILE...
"""

import argparse
import os
import re
import subprocess
import sys
import tempfile


def runpath_entries(path):
    dynamic = subprocess.run(["readelf", "-d", path], capture_output=True, text=True,
                             check=True).stdout
    entries = []
    for found in re.findall(r"\((?:RUNPATH|RPATH)\)\s+Library r(?:un)?path: \[(.*)\]", dynamic):
        entries += found.split(":")
    return entries


def unsafe(entries):
    return [e for e in entries if not (e.startswith("/") or e.startswith("$ORIGIN/"))]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cmake", required=True)
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("files", nargs="+")
    options = parser.parse_args()
    failed = 0
    with tempfile.TemporaryDirectory() as prefix:
        for component in ([], ["--component", "standin"]):
            subprocess.run([options.cmake, "--install", options.build_dir, "--prefix", prefix]
                           + component, check=True, stdout=subprocess.DEVNULL)
        installed = [os.path.join(root, name) for root, _, names in os.walk(prefix)
                     for name in names if name in ("ZEBCmd", "libZEBCli.so")]
        for path in options.files + installed:
            bad = unsafe(runpath_entries(path))
            failed += bool(bad)
            print(f"{'FAIL' if bad else 'ok  '} {path}: {runpath_entries(path)}")
        tool = os.path.join(prefix, "bin", "ZEBCmd")
        env = {k: v for k, v in os.environ.items() if k != "LD_LIBRARY_PATH"}
        ran = subprocess.run([tool, "-ping", "1", "0"], env=dict(env, ZEB_SERVER="127.0.0.1:1"),
                             capture_output=True)
        if ran.returncode != 0 or ran.stderr != b"Ping command failed\n":
            failed += 1
            print(f"FAIL installed tool: status {ran.returncode}, {ran.stderr!r}")
        if len(installed) != 2:
            failed += 1
            print(f"FAIL installed: {installed}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
