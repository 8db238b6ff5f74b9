#!/usr/bin/env python3
"""The Winsock layer's failure paths, which zebserver never takes: ZEBCmd.exe under Wine
against a listener on 127.0.0.1 that misbehaves, judged by the status the tool reports.

Usage: network_errors.py --tool ZEBCMD --harness HARNESS
"""

import argparse
import os
import socket
import sys
import threading

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from wine_target import WineTarget  # noqa: E402


def never_answers(listener, stop):
    """Accepts and reads, never answering, until the test ends."""
    connections = []
    while not stop.is_set():
        try:
            connection, _ = listener.accept()
        except socket.timeout:
            continue
        connections.append(connection)
    for connection in connections:
        connection.close()


def hangs_up(listener, stop):
    """Accepts, reads the request and closes without answering."""
    while not stop.is_set():
        try:
            connection, _ = listener.accept()
        except socket.timeout:
            continue
        with connection:
            connection.recv(65536)


def answers_garbage(listener, stop):
    """Answers with a frame whose length field is zero, which no valid frame has."""
    while not stop.is_set():
        try:
            connection, _ = listener.accept()
        except socket.timeout:
            continue
        with connection:
            connection.recv(65536)
            connection.sendall(b"\0\0\0\0")


CASES = [
    # The answer deadline passes: the library's timeout status.
    ("silent_server", never_answers, [b"Stop command failed (Error: -4)\n"]),
    ("server_hangs_up", hangs_up, [b"Stop command failed (Error: -5)\n"]),
    ("invalid_answer", answers_garbage, [b"Stop command failed (Error: -5)\n"]),
]


def run(case, target):
    name, behaviour, expected = case
    stop = threading.Event()
    with socket.socket() as listener:
        listener.bind(("127.0.0.1", 0))
        listener.listen()
        listener.settimeout(0.1)
        server = threading.Thread(target=behaviour, args=(listener, stop))
        server.start()
        env = dict(os.environ, ZEB_SERVER=f"127.0.0.1:{listener.getsockname()[1]}")
        try:
            messages, stdout, status = target.run(["-stop"], env)
        finally:
            stop.set()
            server.join()
    problems = []
    if messages != expected:
        problems.append(f"messages {messages!r}, expected {expected!r}")
    if stdout:
        problems.append(f"standard output {stdout!r}")
    if status != 0:
        problems.append(f"status {status}, expected 0")
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--harness", required=True)
    target = WineTarget(parser.parse_args())
    failed = 0
    for case in CASES:
        problems = run(case, target)
        print(f"{'FAIL' if problems else 'ok  '} {case[0]}")
        for problem in problems:
            print(f"    {problem}")
        failed += bool(problems)
    print(f"{len(CASES) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
