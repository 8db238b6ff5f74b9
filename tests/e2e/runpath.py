#!/usr/bin/env python3
"""No binary carries an empty or relative RUNPATH entry (the loader reads those against the
current folder): the built tool and library, and a copy installed from the build folder, which
must still find its library."""

import os
import re
import subprocess
import tempfile

import runner

INSTALLED = ("ZEBCmd", "libZEBCli.so")


def runpath_problems(path):
    dynamic = subprocess.run(["readelf", "-d", path], capture_output=True, text=True,
                             check=True).stdout
    entries = []
    for found in re.findall(r"\((?:RUNPATH|RPATH)\)\s+Library r(?:un)?path: \[(.*)\]", dynamic):
        entries += found.split(":")
    if all(e.startswith("/") or e.startswith("$ORIGIN/") for e in entries):
        return []
    return [f"RUNPATH {entries}"]


def installed_tool_problems(prefix, installed):
    """The installed tool finds its library without LD_LIBRARY_PATH and runs."""
    if sorted(os.path.basename(path) for path in installed) != sorted(INSTALLED):
        return [f"installed {installed}"]
    env = {k: v for k, v in os.environ.items() if k != "LD_LIBRARY_PATH"}
    ran = subprocess.run([os.path.join(prefix, "bin", "ZEBCmd"), "-ping", "1", "0"],
                         env=dict(env, ZEB_SERVER="127.0.0.1:1"), capture_output=True)
    if ran.returncode != 0 or ran.stderr != b"Ping command failed\n":
        return [f"status {ran.returncode}, {ran.stderr!r}"]
    return []


def main():
    found = runner.parser([])
    found.add_argument("--cmake", required=True)
    found.add_argument("--build-dir", required=True)
    found.add_argument("files", nargs="+")
    options = runner.parse(found)
    with tempfile.TemporaryDirectory() as prefix:
        for component in ([], ["--component", "standin"]):
            subprocess.run([options.cmake, "--install", options.build_dir, "--prefix", prefix]
                           + component, check=True, stdout=subprocess.DEVNULL)
        installed = [os.path.join(root, name) for root, _, names in os.walk(prefix)
                     for name in names if name in INSTALLED]
        cases = [(path, lambda path=path: runpath_problems(path))
                 for path in options.files + installed]
        cases.append(("installed tool runs", lambda: installed_tool_problems(prefix, installed)))
        return runner.report_table(cases, lambda case: case[1]())


if __name__ == "__main__":
    runner.exit_with(main)
