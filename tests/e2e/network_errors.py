#!/usr/bin/env python3
"""The Winsock layer's failure paths, which zebserver never takes: ZEBCmd.exe under Wine
against a listener on 127.0.0.1 that misbehaves, judged by the status the tool reports.
"""

import os
import socket
import threading

import runner
from runner.wine import WineTarget


def listener_that(answer):
    """Accepts each connection; None keeps it open without a word, otherwise reads the request,
    sends answer (b"" sends nothing) and hangs up."""

    def serve(listener, stop):
        kept = []
        while not stop.is_set():
            try:
                connection, _ = listener.accept()
            except socket.timeout:
                continue
            if answer is None:
                kept.append(connection)
                continue
            with connection:
                connection.recv(65536)
                connection.sendall(answer)
        for connection in kept:
            connection.close()

    return serve


CASES = [
    # The answer deadline passes: the library's timeout status.
    ("silent_server", listener_that(None), [b"Stop command failed (Error: -4)\n"]),
    ("server_hangs_up", listener_that(b""), [b"Stop command failed (Error: -5)\n"]),
    # A frame whose length field is zero, which no valid frame has.
    ("invalid_answer", listener_that(b"\0\0\0\0"), [b"Stop command failed (Error: -5)\n"]),
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
            return runner.run_problems(target.run(["-stop"], env), expected, 0)
        finally:
            stop.set()
            server.join()


def main():
    target = WineTarget(runner.parse(runner.parser(["tool", "wine", "harness"])))
    return runner.report_table(CASES, lambda case: run(case, target))


if __name__ == "__main__":
    runner.exit_with(main)
