#!/usr/bin/env python3
"""The tool's exit status survives a debug channel that nobody reads: standard error is a pipe
whose reading end is already closed ("closed"), or one whose buffer is full and whose reader
is alive but never reads ("stalled"). A stalled channel costs at most 250 ms per message.
With --wine, the tool is ZEBCmdCon.exe under that Wine loader and the channel its standard
output, which must not hold up ZEBCmd.exe either.

Usage: closed_channel.py --server ZEBSERVER --tool ZEBCMD [--wine LOADER]
"""

import argparse
import os
import subprocess
import sys
import time

import e2e
from wine_target import check_loader_runs, skip_if_cannot_run

# Far above three messages of 250 ms each: only a hang comes near it.
STALLED_LIMIT = 10

CASES = [
    # (name, channel, args, zebserver options or None for no server, exit status)
    ("ping_answered", "closed", ["-ping", "1", "0"], [], 1),
    ("ping_answered_after_failures", "closed", ["-ping", "3", "0"], ["--ignore-versions", "2"], 1),
    ("ping_server_down", "closed", ["-ping", "2", "0"], None, 0),
    ("stop", "closed", ["-stop"], [], 0),
    ("usage", "closed", [], None, 0),
    ("stalled_ping_answered", "stalled", ["-ping", "3", "100"], [], 1),
    ("stalled_ping_answered_after_failures", "stalled", ["-ping", "3", "100"],
     ["--ignore-versions", "2"], 1),
    ("stalled_stop", "stalled", ["-stop"], [], 0),
    ("stalled_ping_server_down", "stalled", ["-ping", "3", "0"], None, 0),
]


def full_pipe():
    reading, writing = os.pipe()
    os.set_blocking(writing, False)
    for size in (4096, 1):
        try:
            while True:
                os.write(writing, b"f" * size)
        except BlockingIOError:
            pass
    os.set_blocking(writing, True)
    return reading, writing


def run_on_channel(command, channel, args, env, stream):
    """Exit status (None when it hung) and seconds taken; the channel is the stream named
    "stdout" or "stderr", the other one is discarded."""
    if channel == "closed":
        reading, writing = os.pipe()
        os.close(reading)
        reading = None
    else:
        reading, writing = full_pipe()
    start = time.monotonic()
    try:
        # Popen restores SIGPIPE's default action in the child, as a shell would leave it.
        streams = {"stdout": subprocess.DEVNULL, "stderr": subprocess.DEVNULL, stream: writing}
        proc = subprocess.run(command + args, stdin=subprocess.DEVNULL, env=env,
                              timeout=e2e.RUN_TIMEOUT, **streams)
        status = proc.returncode
    except subprocess.TimeoutExpired:
        status = None
    finally:
        os.close(writing)
        if reading is not None:
            os.close(reading)
    return status, time.monotonic() - start


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--server", required=True)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--wine", help="Wine loader for ZEBCmdCon.exe given as --tool")
    options = parser.parse_args()
    command, stream = [options.tool], "stderr"
    if options.wine:
        check_loader_runs(options.wine)
        command, stream = [options.wine, options.tool], "stdout"
    passed = failed = 0
    for name, channel, args, server_options, expected in CASES:
        server = e2e.Server(options.server, server_options) if server_options is not None else None
        address = server.address if server else e2e.closed_port_address()
        try:
            status, seconds = run_on_channel(command, channel, args,
                                             dict(os.environ, ZEB_SERVER=address), stream)
        finally:
            if server:
                server.finish(expect_exit=args == ["-stop"])
        if status == expected and (channel == "closed" or seconds < STALLED_LIMIT):
            passed += 1
            print(f"ok   {name} ({seconds:.2f} s)")
        else:
            failed += 1
            print(f"FAIL {name}: exit status {status}, expected {expected}, {seconds:.2f} s")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(skip_if_cannot_run(main))
