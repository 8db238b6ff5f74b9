#!/usr/bin/env python3
"""ZEBCmdCon.exe when ZEBCmd.exe cannot run, ends abnormally or runs too long, and its own
switches: a copy of the companion in a scratch folder, run by name from there, without
ZEBCmd.exe, with ZEBCmd.exe with or without ZEBCli.dll (the server's port closed), or with a
stand-in ZEBCmd.exe that ends with the status it is given. The companion must say why in one
line on standard error, pass the status on (or end with one that no run of ZEBCmd.exe gives).
"""

import fcntl
import os
import pty
import re
import select
import shutil
import struct
import subprocess
import tempfile
import termios
from types import SimpleNamespace

import runner
from runner.wine import CompanionTarget, is_32bit_elf

CANNOT_RUN, TIME_LIMIT = 0xFFFFFFFF, 0xFFFFFFFE
LOADER = "ZEBCmdCon: ZEBCmd.exe could not start (0x{:08X}): "
DLL_MISSING = (LOADER.format(0xC0000135) + "ZEBCli.dll, or a DLL it needs, is missing: put the "
               "vendor's ZEBCli.dll and the DLLs it needs beside ZEBCmd.exe\n")
BAD_TIME_LIMIT = "ZEBCmdCon: /timeout: needs a whole number of seconds from 1 to 86400\n"
ACCESS_VIOLATION = ("ZEBCmdCon: ZEBCmd.exe ended abnormally (0xC0000005, access violation): no "
                    "outcome was reported; if it happens again, check that ZEBCli.dll is the "
                    "one the server came with\n")
USAGE = rb"Usage: ZEBCmdCon \[/timeout:SECONDS\] -stop \| [^\n]*\n(.+\n){6}"

# Name, what is beside the companion (None, "tool", "tool and library", "stand-in"; "stand-in,
# terminal" or, in a folder whose path passes MAX_PATH, "stand-in, deep": run by Wine's loader,
# not CreateProcess, standard error on a terminal, where Wine gives it a console, status cut to 8
# bits), the arguments, standard output (all writes) and standard error (None: nothing; bytes: a
# pattern; text: exactly that, "{bits}" the programs' bitness), and the exit status.
CASES = [
    ("without_zebcmd", None, ["-ping", "1", "0"], None,
     rb"ZEBCmdCon: cannot start .*\\ZEBCmd\.exe \(error 2\b.*\n", CANNOT_RUN),
    ("without_zebcli", "tool", ["-ping", "1", "0"], None, DLL_MISSING, 0xC0000135),
    ("bad_image", "stand-in", ["0xC000007B"], None,
     LOADER.format(0xC000007B) + "ZEBCli.dll is not a {bits} DLL, or is damaged: put the "
     "vendor's {bits} ZEBCli.dll beside ZEBCmd.exe\n", 0xC000007B),
    ("entry_point_not_found", "stand-in", ["0xC0000139"], None,
     LOADER.format(0xC0000139) + "ZEBCli.dll lacks a function ZEBCmd.exe imports, so it is of "
     "another version or calling convention: put the ZEBCli.dll of the server ZEBCmd.exe was "
     "built for beside it, or use a ZEBCmd.exe built from this DLL\n", 0xC0000139),
    # The switch, in any case, is the companion's: the stand-in gets one argument.
    ("dll_initialisation_failed", "stand-in", ["/TIMEOUT:30", "0xC0000142"], None,
     LOADER.format(0xC0000142) + "ZEBCli.dll, or a DLL it loads, failed to initialise: check the "
     "vendor's installation of the server's client library\n", 0xC0000142),
    ("access_violation", "stand-in", ["0xC0000005"], None, ACCESS_VIOLATION, 0xC0000005),
    ("access_violation_on_console", "stand-in, terminal", ["0xC0000005"], None, ACCESS_VIOLATION,
     0x05),
    ("unreadable_message", "stand-in", ["unreadable-message"], None,
     rb"ZEBCmdCon: lost track of .*\\ZEBCmd\.exe, which was ended \(error 998\b.*\)\n",
     CANNOT_RUN),
    # Wine starts no program by a path that long: the companion names it in full.
    ("folder_past_max_path", "stand-in, deep", ["0"], None,
     rb"ZEBCmdCon: cannot start Z:\\.*\\d{150}\\e{150}\\ZEBCmd\.exe \(error 2\b.*\n", 0xFF),
    ("ping_answered_unexplained", "stand-in", ["1"], None, None, 1),
    ("time_limit", "tool and library", ["/timeout:1", "-ping", "0", "100"], rb"(Ping failure\n)+",
     "ZEBCmdCon: ZEBCmd.exe was still running after the time limit of 1 s and was ended\n",
     TIME_LIMIT),
    ("usage", "stand-in", ["/?", "1"], USAGE, None, 0),
    ("bad_time_limit", "stand-in", ["/timeout:86401", "1"], None,
     re.escape(BAD_TIME_LIMIT.encode()) + USAGE, CANNOT_RUN),
    # Fits the companion's command line, not ZEBCmd.exe's with its full path.
    ("command_line_too_long", "stand-in", ["-dump", "x" * 32734], None,
     rb"ZEBCmdCon: the command line would be \d+ characters with ZEBCmd\.exe's full path, "
     rb"over Windows' limit of 32767: use a shorter file name or folder\n", CANNOT_RUN),
]


def run_on_terminal(options, command, env, folder):
    """Standard output, what the terminal on standard error shows without its control
    sequences, and the status."""
    screen, terminal = pty.openpty()
    fcntl.ioctl(terminal, termios.TIOCSWINSZ, struct.pack("4H", 25, 1000, 0, 0))  # no wrapping
    with open(screen, "rb", buffering=0) as reader:
        result = subprocess.run([options.wine, *command], stdin=subprocess.DEVNULL, env=env,
                                stdout=subprocess.PIPE, stderr=terminal, cwd=folder,
                                timeout=options.run_timeout)
        os.close(terminal)
        shown = b""
        # Read until the console's last holder closes the terminal (EIO).
        while select.select([reader], [], [], options.run_timeout)[0]:
            try:
                shown += reader.read(4096)
            except OSError:
                break
    return result.stdout, re.sub(rb"\x1b\[[?0-9;]*[A-Za-z]|\r", b"", shown), result.returncode


def run(case, options):
    name, child, args, output, error, status = case
    with tempfile.TemporaryDirectory(prefix="zebcmd-companion-",
                                     ignore_cleanup_errors=True) as top:
        # Run from the scratch folder: Wine makes no folder past MAX_PATH the current one.
        folder = os.path.join(top, "d" * 150, "e" * 150) if child == "stand-in, deep" else top
        os.makedirs(folder, exist_ok=True)
        companion = shutil.copy(options.companion, folder)
        if child:
            shutil.copy(options.stand_in if child.startswith("stand-in") else options.tool,
                        os.path.join(folder, "ZEBCmd.exe"))
        if child == "tool and library":
            shutil.copy(options.zebcli, folder)
        program = os.path.relpath(companion, top).replace("/", "\\")
        env = dict(os.environ, ZEB_SERVER=runner.closed_port_address())
        if child and child.startswith("stand-in, "):
            *got, got_status = run_on_terminal(options, [program, *args], env, top)
        else:
            target = CompanionTarget(SimpleNamespace(**dict(vars(options), tool=companion)))
            target.program, target.folder = program, top
            messages, _, got_status = target.run(args, env)
            got = [b"".join(m for m in messages if isinstance(m, bytes)),
                   b"".join(m[1] for m in messages if isinstance(m, tuple))]
    bits = "32-bit" if is_32bit_elf(options.wine) else "64-bit"
    problems = []
    for channel, expected, text in zip(("standard output", "standard error"), (output, error), got):
        if isinstance(expected, str):
            expected = re.escape(expected.replace("{bits}", bits).encode())
        if not re.fullmatch(expected or b"", text):
            problems.append(f"{channel} {text!r}, expected {expected!r}")
    if got_status != status:
        problems.append(f"status {got_status:#x}, expected {status:#x}")
    return problems


def main():
    parser = runner.parser(["tool", "wine", "harness"])
    parser.add_argument("--companion", required=True)
    parser.add_argument("--stand-in", required=True, help="a program that ends with its argument")
    parser.add_argument("--zebcli", required=True, help="the client library ZEBCmd.exe loads")
    options = runner.parse(parser)
    return runner.report_table(CASES, lambda case: run(case, options))


if __name__ == "__main__":
    runner.exit_with(main)
