"""The Windows build under Wine: debug_harness.exe starts ZEBCmd.exe as a debuggee and
reports each OutputDebugStringA call as one message, the way a debug-output viewer sees it.

Wine must find a prefix and, for speed, a running wineserver through the environment
(WINEPREFIX); the CTest fixture of the Windows build provides both.
"""

import os
import subprocess

RUN_TIMEOUT = 30


def windows_path(path):
    """The Windows name of a host file: a new prefix maps drive Z: to the host's root."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class WineTarget:
    def __init__(self, options):
        if not options.harness:
            raise SystemExit("--harness is required with --target wine")
        self.harness = options.harness
        self.program = windows_path(options.tool)

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
        command = ["wine", self.harness, self.program.encode("utf-8").hex()]
        if tail:
            command.append(tail.encode("utf-8").hex())
        result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, env=env,
                                timeout=RUN_TIMEOUT)
        if result.returncode != 0:
            raise RuntimeError(f"debug_harness failed with {result.returncode}: "
                               f"{result.stdout!r} {result.stderr!r}")
        return parse_report(result.stdout)


def parse_report(report):
    messages = []
    stdout = b""
    status = None
    for line in report.decode("ascii").splitlines():
        if status is not None:
            raise RuntimeError(f"debug_harness wrote after the exit code: {report!r}")
        kind, _, value = line.partition(" ")
        if kind == "message":
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
            raise RuntimeError(f"unexpected line from debug_harness: {line!r}")
    if status is None:
        raise RuntimeError(f"debug_harness reported no exit code: {report!r}")
    return messages, stdout, status
