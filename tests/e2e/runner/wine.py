"""The Windows build under Wine: debug_harness.exe starts ZEBCmd.exe as a debuggee and
reports each OutputDebugStringA call as one message, the way a debug-output viewer sees it;
or it starts ZEBCmdCon.exe and reports each write to its standard output as one message.

Wine must find a prefix and, for speed, a running wineserver through the environment
(WINEPREFIX, WINESERVER); the CTest fixture of the Windows build provides both. --wine names
the loader for the programs' bitness.
"""

import errno
import os
import re
import subprocess

from runner import RUN_TIMEOUT, CannotRun, HarnessFailed

CHECKED_INSTEAD = ("the 32-bit programs were checked as files and the Windows suite ran on the "
                   "x86-64 build")
NO_32BIT = "this machine cannot run 32-bit x86 code; " + CHECKED_INSTEAD
# Set to a non-empty value, takes the path of a machine without 32-bit code on any machine.
FORCE_NO_32BIT = "ZEBCMD_NO_32BIT"
# debug_harness gives its program up at this share of the runner's limit on the harness, so that
# it reports why before the runner kills it: 25 s of the default 30.
HARNESS_SHARE = 5 / 6
# How the harness or the companion reports that CreateProcess failed with ERROR_INTERNAL_ERROR,
# Wine's answer when a new process dies before its start completes. It comes and goes with the
# host, so such a run is made once more: a program that really cannot start fails again.
WINE_START_FAILURE = re.compile(rb"cannot start [^\n]*\(error 1359\b")


def is_32bit_elf(path):
    with open(path, "rb") as program:
        header = program.read(5)
    return header[:4] == b"\x7fELF" and header[4] == 1


def check_loader_runs(loader):
    """Raises CannotRun when the loader is a 32-bit program that this machine cannot execute
    (exec fails with ENOEXEC) or that FORCE_NO_32BIT rules out. Any other failure is raised as
    it is: it is a fault, not a machine without 32-bit code."""
    if is_32bit_elf(loader) and os.environ.get(FORCE_NO_32BIT):
        raise CannotRun(f"{FORCE_NO_32BIT} is set, so 32-bit x86 code is treated as unable to "
                        f"run; {CHECKED_INSTEAD}")
    try:
        subprocess.run([loader, "--version"], stdin=subprocess.DEVNULL, capture_output=True,
                       check=True, timeout=RUN_TIMEOUT)
    except OSError as error:
        if error.errno == errno.ENOEXEC and is_32bit_elf(loader):
            raise CannotRun(NO_32BIT) from error
        raise


def windows_path(path):
    """The Windows name of a host file: a new prefix maps drive Z: to the host's root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class WineTarget:
    harness_options = []

    def __init__(self, options):
        if not options.harness or not options.wine:
            raise SystemExit("--harness and --wine are required with --target wine")
        self.loader = options.wine
        self.timeout = options.run_timeout
        self.harness = options.harness
        self.program = windows_path(options.tool)
        # Where the harness runs; a program named without a folder is looked for there.
        self.folder = None

    def run(self, args, env):
        # The tool splits its command line with CommandLineToArgvW, whose rules are those
        # list2cmdline quotes for.
        return self.run_tail(subprocess.list2cmdline(args), env)

    def run_tail(self, tail, env):
        """Runs the tool with this text after its quoted path on the command line.

        Returns the messages, the bytes written to standard output and the exit status. Text
        on standard error or wide debug strings come back as tagged tuples among the
        messages, so that they show up in the comparison with the expected messages.
        """
        command = [self.loader, self.harness] + self.harness_options + [
            str(round(self.timeout * HARNESS_SHARE * 1000)), self.program.encode("utf-8").hex()]
        hex_tail = tail.encode("utf-8").hex().encode()
        result = self.run_harness(command, env, hex_tail)
        if wine_start_failed(result):
            print("note: Wine could not start the program (error 1359); running it once more",
                  flush=True)
            result = self.run_harness(command, env, hex_tail)
        if result.returncode != 0:
            raise HarnessFailed(f"debug_harness failed with {result.returncode}: "
                                f"{result.stdout!r} {result.stderr!r}")
        return parse_report(result.stdout)

    def run_harness(self, command, env, hex_tail):
        return subprocess.run(command, input=hex_tail, capture_output=True, env=env,
                              timeout=self.timeout, cwd=self.folder)


class CompanionTarget(WineTarget):
    """ZEBCmdCon.exe, which runs ZEBCmd.exe from its folder: the messages are its writes to
    standard output, read one write at a time through a message pipe."""

    harness_options = ["--writes"]


def wine_start_failed(result):
    """Whether the harness could not start its program, or the companion could not start
    ZEBCmd.exe, because Wine's process start failed (its standard error, in the report)."""
    if result.returncode != 0:
        return bool(WINE_START_FAILURE.search(result.stderr))
    try:
        messages = parse_report(result.stdout)[0]
    except (HarnessFailed, ValueError):
        return False
    return any(isinstance(message, tuple) and message[0] == "standard error" and
               WINE_START_FAILURE.search(message[1]) for message in messages)


def parse_report(report):
    messages = []
    stdout = b""
    status = None
    for line in report.decode("ascii").splitlines():
        if status is not None:
            raise HarnessFailed(f"debug_harness wrote after the exit code: {report!r}")
        kind, _, value = line.partition(" ")
        if kind in ("message", "write"):
            messages.append(bytes.fromhex(value))
        elif kind == "wide-message":
            messages.append(("OutputDebugStringW", bytes.fromhex(value)))
        elif kind == "stdout":
            stdout = bytes.fromhex(value)
        elif kind == "stderr":
            if value:
                messages.append(("standard error", bytes.fromhex(value)))
        elif kind == "exit":
            status = int(value)
        else:
            raise HarnessFailed(f"unexpected line from debug_harness: {line!r}")
    if status is None:
        raise HarnessFailed(f"debug_harness reported no exit code: {report!r}")
    return messages, stdout, status
