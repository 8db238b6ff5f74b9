#!/usr/bin/env python3
"""The tool's exit status survives a debug channel that nobody reads: standard error is a pipe
whose reading end is already closed when the tool writes its messages.

Usage: closed_channel.py --server ZEBSERVER --tool ZEBCMD
"""

import argparse
import os
import subprocess
import sys

import e2e

CASES = [
    # (name, args, zebserver options or None for no server, exit status)
    ("ping_answered", ["-ping", "1", "0"], [], 1),
    ("ping_answered_after_failures", ["-ping", "3", "0"], ["--ignore-versions", "2"], 1),
    ("ping_server_down", ["-ping", "2", "0"], None, 0),
    ("stop", ["-stop"], [], 0),
    ("usage", [], None, 0),
]


def run_closed(tool, args, env):
    reading, writing = os.pipe()
    os.close(reading)
    try:
        # Popen restores SIGPIPE's default action in the child, as a shell would leave it.
        proc = subprocess.run([tool] + args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=writing, env=env, timeout=e2e.RUN_TIMEOUT)
    finally:
        os.close(writing)
    return proc.returncode


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--server", required=True)
    parser.add_argument("--tool", required=True)
    options = parser.parse_args()
    passed = failed = 0
    for name, args, server_options, expected in CASES:
        server = e2e.Server(options.server, server_options) if server_options is not None else None
        address = server.address if server else e2e.closed_port_address()
        try:
            status = run_closed(options.tool, args, dict(os.environ, ZEB_SERVER=address))
        finally:
            if server:
                server.finish(expect_exit=args == ["-stop"])
        if status == expected:
            passed += 1
            print(f"ok   {name}")
        else:
            failed += 1
            print(f"FAIL {name}: exit status {status}, expected {expected}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
