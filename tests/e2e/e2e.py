#!/usr/bin/env python3
"""Runs the shared end-to-end cases: the built tool as a process against zebserver.

A target runs the tool with arguments and returns its debug messages (one per write), its
standard output and its exit status. main() takes the targets by name from TARGETS, or from the
table its caller gives; the Wine targets' module is loaded only when one of them is asked for.
"""

import importlib
import os
import shlex
import socket
import subprocess
import tempfile
import threading

import runner
from cases import CASES


class NativeTarget:
    """The POSIX build: standard error carries the messages, read as one record per write."""

    def __init__(self, options):
        self.tool = options.tool
        self.timeout = options.run_timeout
        # A wrapper such as valgrind; "{log}" in it names a file that must stay empty.
        self.prefix = shlex.split(options.tool_prefix or "")

    def run(self, args, env):
        prefix, log = self.prefix, None
        if any("{log}" in word for word in prefix):
            handle, log = tempfile.mkstemp(prefix="zebcmd-tool-log-")
            os.close(handle)
            prefix = [word.replace("{log}", log) for word in prefix]
        command = [as_bytes(word) for word in prefix + [self.tool]] + [as_bytes(a) for a in args]
        ours, theirs = socket.socketpair(socket.AF_UNIX, socket.SOCK_SEQPACKET)
        messages = []
        try:
            with ours:
                with theirs:
                    proc = subprocess.Popen(command,
                                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                            stderr=theirs.fileno(), env=env)
                reader = threading.Thread(target=read_records, args=(ours, messages))
                reader.start()
                with proc:
                    try:
                        stdout, _ = proc.communicate(timeout=self.timeout)
                    finally:
                        proc.kill()
                reader.join()
        finally:
            if log:
                with open(log, "rb") as found:
                    report = found.read()
                os.unlink(log)
        if log and report:
            messages.append(("tool prefix log", report))
        return messages, stdout, proc.returncode


def as_bytes(text):
    """Arguments and file names are given as text (sent as UTF-8) or as raw bytes."""
    return text if isinstance(text, bytes) else text.encode("utf-8")


def read_records(sock, out):
    while True:
        record = sock.recv(1 << 20)
        if not record:
            return
        out.append(record)


def wine_target(name):
    return lambda options: getattr(importlib.import_module("runner.wine"), name)(options)


TARGETS = {"native": NativeTarget, "wine": wine_target("WineTarget"),
           "companion": wine_target("CompanionTarget")}


def run_case(case, target, server_path):
    with tempfile.TemporaryDirectory(prefix="zebcmd-e2e-", ignore_cleanup_errors=True) as folder:
        return check_case(case, target, server_path, folder)


def check_case(case, target, server_path, folder):
    problems = []
    def fill(text):
        if isinstance(text, bytes):
            return text.replace(b"{dir}", folder.encode())
        return text.replace("{dir}", folder)

    with runner.Server(server_path, case.server, case.server_exits) as server:
        env = dict(os.environ, ZEB_SERVER=server.address)
        for number, step in enumerate(case.steps, 1):
            try:
                run = target.run([fill(a) for a in step.args], env)
            except subprocess.TimeoutExpired as expired:
                # The later steps build on this one: the case ends here, the table goes on.
                problems.append(f"step {number}: still running after {expired.timeout} s")
                break
            problems += [f"step {number}: {problem}" for problem in
                         runner.run_problems(run, [fill(m) for m in step.messages], step.status)]
    expected_journal = [fill(line) for line in case.journal]
    if server.journal != expected_journal:
        problems.append(f"journal {server.journal!r}, expected {expected_journal!r}")
    if case.server_exits and server.exit_status != 0:
        problems.append(f"server did not exit with 0 after stop (got {server.exit_status})")
    for name in case.files:
        if not os.path.isfile(as_bytes(fill(name))):
            problems.append(f"missing file {fill(name)!r}")
    return problems


def main(cases=CASES, targets=TARGETS):
    parser = runner.parser(["tool", "server"], ["target", "wine", "harness"])
    parser.add_argument("--case", action="append")
    parser.add_argument("--tool-prefix", help='wrapper command; "{log}" in it must stay empty')
    options = runner.parse(parser)
    target = targets[options.target](options)
    selected = [case for case in cases if not options.case or case.name in options.case]
    return runner.report_table(selected, lambda case: run_case(case, target, options.server),
                               lambda case: case.name)


if __name__ == "__main__":
    runner.exit_with(main)
