#!/usr/bin/env python3
"""Runs the shared end-to-end cases: the built tool as a process against zebserver.

Usage: e2e.py --server ZEBSERVER --target native --tool ZEBCMD [--case NAME ...]
A target runs the tool with arguments and returns its debug messages (one per write), its
standard output and its exit status. Other targets register themselves in TARGETS.
"""

import argparse
import os
import re
import shlex
import shutil
import socket
import subprocess
import sys
import tempfile
import threading

from cases import CASES
from wine_target import CompanionTarget, HarnessFailed, WineTarget, skip_if_cannot_run

RUN_TIMEOUT = 30
TIMESTAMP = re.compile(rb"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z ")


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
        try:
            messages, stdout, status = self.run_command(
                [as_bytes(word) for word in prefix + [self.tool]] + [as_bytes(a) for a in args],
                env)
        finally:
            if log:
                with open(log, "rb") as found:
                    report = found.read()
                os.unlink(log)
        if log and report:
            messages.append(("tool prefix log", report))
        return messages, stdout, status

    def run_command(self, command, env):
        ours, theirs = socket.socketpair(socket.AF_UNIX, socket.SOCK_SEQPACKET)
        messages = []
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


TARGETS = {"native": NativeTarget, "wine": WineTarget, "companion": CompanionTarget}


class Server:
    def __init__(self, path, options, cwd=None):
        self.proc = subprocess.Popen([path, "--port", "0"] + options, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, cwd=cwd)
        first = self.proc.stdout.readline()
        match = re.fullmatch(rb"listening on 127\.0\.0\.1:(\d+)\n", first)
        if not match:
            self.proc.kill()
            raise RuntimeError(f"zebserver did not start: {first!r}")
        self.address = f"127.0.0.1:{int(match.group(1))}"
        # Drained while the case runs: the journal is compared whole, and the server drops the
        # lines that a full pipe does not take.
        self.journal = []
        self.reader = threading.Thread(target=lambda: self.journal.extend(self.proc.stdout))
        self.reader.start()

    def finish(self, expect_exit):
        """Ends the server and returns its journal without timestamps."""
        if expect_exit:
            try:
                code = self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                code = None
        else:
            code = None
        self.proc.terminate()
        self.proc.wait(timeout=10)
        self.reader.join()
        self.proc.stdout.close()
        lines = []
        for line in b"".join(self.journal).splitlines():
            match = TIMESTAMP.match(line)
            lines.append(line[match.end():].decode("latin-1") if match else f"<bad {line!r}>")
        return lines, code


def closed_port_address():
    with socket.socket() as sock:
        sock.bind(("127.0.0.1", 0))
        return f"127.0.0.1:{sock.getsockname()[1]}"


def run_case(case, target, server_path):
    folder = tempfile.mkdtemp(prefix="zebcmd-e2e-")
    try:
        return check_case(case, target, server_path, folder)
    finally:
        shutil.rmtree(folder.encode(), ignore_errors=True)


def check_case(case, target, server_path, folder):
    problems = []
    def fill(text):
        if isinstance(text, bytes):
            return text.replace(b"{dir}", folder.encode())
        return text.replace("{dir}", folder)

    server = Server(server_path, case.server) if case.server is not None else None
    env = dict(os.environ, ZEB_SERVER=server.address if server else closed_port_address())
    try:
        for number, step in enumerate(case.steps, 1):
            try:
                messages, stdout, status = target.run([fill(a) for a in step.args], env)
            except subprocess.TimeoutExpired as expired:
                # The later steps build on this one: the case ends here, the table goes on.
                problems.append(f"step {number}: still running after {expired.timeout} s")
                break
            expected = [m.replace(b"{dir}", folder.encode()) for m in step.messages]
            if messages != expected:
                problems.append(f"step {number}: messages {messages!r}, expected {expected!r}")
            if stdout:
                problems.append(f"step {number}: standard output {stdout!r}")
            if status != step.status:
                problems.append(f"step {number}: status {status}, expected {step.status}")
    finally:
        journal, code = server.finish(case.server_exits) if server else ([], None)
    expected_journal = [fill(line) for line in case.journal]
    if journal != expected_journal:
        problems.append(f"journal {journal!r}, expected {expected_journal!r}")
    if case.server_exits and code != 0:
        problems.append(f"server did not exit with 0 after stop (got {code})")
    for name in case.files:
        if not os.path.isfile(as_bytes(fill(name))):
            problems.append(f"missing file {fill(name)!r}")
    return problems


def report_table(cases, check, name=lambda case: case[0]):
    """Checks each case with check, which returns its problems; prints a line per case and the
    summary, and returns the exit status (a failure too when no case ran)."""
    passed = failed = 0
    for case in cases:
        try:
            problems = check(case)
        except HarnessFailed as failure:
            # Under Wine a tool that hangs or crashes can end the harness's run instead: that
            # case fails and the table goes on.
            problems = [str(failure)]
        print(f"{'FAIL' if problems else 'ok  '} {name(case)}")
        for problem in problems:
            print(f"    {problem}")
        failed += bool(problems)
        passed += not problems
    print(f"{passed} passed, {failed} failed")
    return 1 if failed or not passed else 0


def main(cases=CASES, targets=TARGETS):
    parser = argparse.ArgumentParser()
    parser.add_argument("--server", required=True)
    parser.add_argument("--target", default="native")
    parser.add_argument("--tool", required=True)
    parser.add_argument("--harness")
    parser.add_argument("--wine", help="Wine loader for the tool's bitness")
    parser.add_argument("--case", action="append")
    parser.add_argument("--run-timeout", type=float, default=RUN_TIMEOUT,
                        help="seconds one run of the tool may take")
    parser.add_argument("--tool-prefix", help='wrapper command; "{log}" in it must stay empty')
    options = parser.parse_args()
    target = targets[options.target](options)
    selected = [case for case in cases if not options.case or case.name in options.case]
    return report_table(selected, lambda case: run_case(case, target, options.server),
                        lambda case: case.name)

if __name__ == "__main__":
    sys.exit(skip_if_cannot_run(main))
