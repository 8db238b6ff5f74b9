"""What the test runners share: their command-line options, time limits, the table reporter,
the stand-in server and the skip of a test whose programs this machine cannot run.

The Wine target is the submodule runner.wine, loaded only by the runners that use Wine.
"""

import argparse
import pathlib
import re
import socket
import subprocess
import sys
import threading

# Seconds one run of a program may take, and a script of several runs (a document's example):
# far above the library's longest call, its connect and answer limits (standin/contract.h).
# debug_harness bounds its program's run at runner.wine.HARNESS_SHARE of this.
RUN_TIMEOUT = 30
BATCH_TIMEOUT = 60
# CTest's SKIP_RETURN_CODE for the tests that run programs under Wine.
SKIP_STATUS = 77


def constant(header, name):
    """The value of "NAME = VALUE;" in a header of the sources: a quoted text, or a number."""
    text = (pathlib.Path(__file__).resolve().parents[3] / header).read_text()
    value = re.search(rf"\b{name}(?:\[\])? = (.+);", text)[1]
    return value[1:-1] if value.startswith('"') else int(value)


# zebserver's first line, and the time stamp that starts each journal line after it.
START_LINE = re.compile(rb"%s(%s:\d+)\n" % tuple(
    re.escape(constant("standin/contract.h", n)).encode() for n in ("kListeningOn", "kServerHost")))
TIMESTAMP = re.compile(rb"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z ")

SHARED_OPTIONS = {
    "tool": "the program under test",
    "server": "the native zebserver",
    "target": "how the tool runs: native (the default), wine or companion",
    "wine": "Wine loader for the programs' bitness; the test is skipped where it cannot run",
    "harness": "debug_harness.exe, which reports the program's debug messages",
}


class CannotRun(Exception):
    """This machine cannot execute the Wine loader that the programs need."""


class HarnessFailed(RuntimeError):
    """debug_harness did not see the program to its end, or its report makes no sense."""


def parser(required, optional=(), run_timeout=RUN_TIMEOUT):
    """An argument parser with the shared options named (without their dashes) and
    --run-timeout; the script adds its own. Its help shows the script's docstring."""
    found = argparse.ArgumentParser(description=sys.modules["__main__"].__doc__,
                                    formatter_class=argparse.RawDescriptionHelpFormatter)
    for name in [*required, *optional]:
        found.add_argument(f"--{name}", required=name in required, help=SHARED_OPTIONS[name],
                           default="native" if name == "target" else None)
    found.add_argument("--run-timeout", type=float, default=run_timeout,
                       help="seconds one run may take")
    return found


def parse(found):
    """The options; a --wine loader that this machine cannot run raises CannotRun."""
    options = found.parse_args()
    if getattr(options, "wine", None):
        from runner.wine import check_loader_runs
        check_loader_runs(options.wine)
    return options


def exit_with(main):
    """Exits with main's status, or with SKIP_STATUS after one line saying why."""
    try:
        status = main()
    except CannotRun as reason:
        print(f"skipped: {reason}", flush=True)
        status = SKIP_STATUS
    sys.exit(status)


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


def run_problems(run, messages, status):
    """How a run's (messages, standard output, exit status) differs from the messages and
    status expected with nothing on standard output."""
    got_messages, stdout, got_status = run
    problems = []
    if got_messages != messages:
        problems.append(f"messages {got_messages!r}, expected {messages!r}")
    if stdout:
        problems.append(f"standard output {stdout!r}")
    if got_status != status:
        problems.append(f"status {got_status}, expected {status}")
    return problems


def closed_port_address():
    with socket.socket() as sock:
        sock.bind(("127.0.0.1", 0))
        return f"127.0.0.1:{sock.getsockname()[1]}"


class Server:
    """zebserver on a free port, its journal read as it comes; with options None, no server and
    a closed port as the address. Used as a context, which ends the server on leaving."""

    def __init__(self, path, options, expect_exit=False, cwd=None):
        self.proc, self.expect_exit = None, expect_exit
        self.journal, self.exit_status = [], None
        if options is None:
            self.address = closed_port_address()
            return
        self.proc = subprocess.Popen([path, "--port", "0"] + options, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, cwd=cwd)
        first = self.proc.stdout.readline()
        match = START_LINE.fullmatch(first)
        if not match:
            self.proc.kill()
            raise RuntimeError(f"zebserver did not start: {first!r}")
        self.address = match.group(1).decode()
        # Drained while the case runs: the journal is compared whole, and the server drops the
        # lines that a full pipe does not take.
        self.output = []
        self.reader = threading.Thread(target=lambda: self.output.extend(self.proc.stdout))
        self.reader.start()

    def __enter__(self):
        return self

    def __exit__(self, *error):
        """Ends the server. journal: its lines without time stamps; exit_status: the status it
        exited with by itself when expect_exit, else None."""
        if not self.proc:
            return
        if self.expect_exit:
            try:
                self.exit_status = self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                pass
        self.proc.terminate()
        self.proc.wait(timeout=10)
        self.reader.join()
        self.proc.stdout.close()
        for line in b"".join(self.output).splitlines():
            match = TIMESTAMP.match(line)
            self.journal.append(line[match.end():].decode("latin-1") if match
                                else f"<bad {line!r}>")
