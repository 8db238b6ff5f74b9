#!/usr/bin/env python3
"""ZEBCmdCon.exe when ZEBCmd.exe cannot run, or ends as a program the loader could not start:
a copy of the companion in a scratch folder, without ZEBCmd.exe, with ZEBCmd.exe but without
ZEBCli.dll, or with a stand-in ZEBCmd.exe that ends with the status it is given. The companion
must say why in one line on standard error, pass the status on (or end with one that no run of
ZEBCmd.exe gives).
"""

import os
import shutil
import tempfile
from types import SimpleNamespace

import runner
from runner.wine import CompanionTarget, is_32bit_elf

CANNOT_RUN = 0xFFFFFFFF
LOADER = "ZEBCmdCon: ZEBCmd.exe could not start (0x{:08X}): "
DLL_MISSING = (LOADER.format(0xC0000135) + "ZEBCli.dll, or a DLL it needs, is missing: put the "
               "vendor's ZEBCli.dll and the DLLs it needs beside ZEBCmd.exe\n")

# Name, what is ZEBCmd.exe beside the companion (None, "tool" or "stand-in"), the arguments,
# standard error (None: nothing; a pair: how it starts and a part of it; text: exactly that,
# "{bits}" standing for the programs' bitness), the exit status.
CASES = [
    ("without_zebcmd", None, ["-ping", "1", "0"],
     (b"ZEBCmdCon: cannot start ", b"ZEBCmd.exe (error 2"), CANNOT_RUN),
    ("without_zebcli", "tool", ["-ping", "1", "0"], DLL_MISSING, 0xC0000135),
    ("bad_image", "stand-in", ["0xC000007B"],
     LOADER.format(0xC000007B) + "ZEBCli.dll is not a {bits} DLL, or is damaged: put the "
     "vendor's {bits} ZEBCli.dll beside ZEBCmd.exe\n", 0xC000007B),
    ("entry_point_not_found", "stand-in", ["0xC0000139"],
     LOADER.format(0xC0000139) + "ZEBCli.dll lacks a function ZEBCmd.exe imports, so it is of "
     "another version or calling convention: put the ZEBCli.dll of the server ZEBCmd.exe was "
     "built for beside it, or use a ZEBCmd.exe built from this DLL\n", 0xC0000139),
    ("access_violation_unexplained", "stand-in", ["0xC0000005"], None, 0xC0000005),
    ("ping_answered_unexplained", "stand-in", ["1"], None, 1),
]


def run(case, options):
    name, child, args, error, status = case
    folder = tempfile.mkdtemp(prefix="zebcmd-companion-")
    try:
        companion = shutil.copy(options.companion, folder)
        if child:
            shutil.copy(options.tool if child == "tool" else options.stand_in,
                        os.path.join(folder, "ZEBCmd.exe"))
        target = CompanionTarget(SimpleNamespace(**dict(vars(options), tool=companion)))
        messages, _, got_status = target.run(args, dict(os.environ))
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    errors = [m[1] for m in messages if isinstance(m, tuple) and m[0] == "standard error"]
    problems = []
    if len(errors) != len(messages):
        problems.append(f"records {messages!r}, expected only standard error")
    if isinstance(error, str):
        bits = "32-bit" if is_32bit_elf(options.wine) else "64-bit"
        error = error.replace("{bits}", bits).encode()
    if error is None or isinstance(error, bytes):
        if errors != ([error] if error else []):
            problems.append(f"standard error {errors!r}, expected {error!r}")
    elif len(errors) != 1 or not (errors[0].startswith(error[0]) and error[1] in errors[0]):
        problems.append(f"standard error {errors!r}, expected {error[0]!r} ... {error[1]!r}")
    if got_status != status:
        problems.append(f"status {got_status:#x}, expected {status:#x}")
    return problems


def main():
    parser = runner.parser(["tool", "wine", "harness"])
    parser.add_argument("--companion", required=True)
    parser.add_argument("--stand-in", required=True, help="a program that ends with its argument")
    options = runner.parse(parser)
    return runner.report_table(CASES, lambda case: run(case, options))


if __name__ == "__main__":
    runner.exit_with(main)
