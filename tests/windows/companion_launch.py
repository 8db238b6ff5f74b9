#!/usr/bin/env python3
"""ZEBCmdCon.exe when ZEBCmd.exe cannot run: a copy of the companion in a scratch folder,
without ZEBCmd.exe or without ZEBCli.dll beside it, must say why on standard error and end
with a status that no run of ZEBCmd.exe gives.

Usage: companion_launch.py --companion ZEBCMDCON --tool ZEBCMD --wine LOADER --harness HARNESS
"""

import argparse
import os
import shutil
import sys
import tempfile
from types import SimpleNamespace

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from e2e import report_table  # noqa: E402
from wine_target import CompanionTarget, skip_if_cannot_run  # noqa: E402

CANNOT_RUN = 0xFFFFFFFF
DLL_NOT_FOUND = 0xC0000135

# Name, whether ZEBCmd.exe is copied beside the companion, what standard error must start
# with and contain, the exit status.
CASES = [
    ("without_zebcmd", False, b"ZEBCmdCon: cannot start ", b"ZEBCmd.exe (error 2", CANNOT_RUN),
    ("without_zebcli", True, b"ZEBCmdCon: ZEBCmd.exe could not start: ",
     b"ZEBCli.dll must be beside the program or on the DLL search path\n", DLL_NOT_FOUND),
]


def run(case, options):
    name, with_tool, start, part, status = case
    folder = tempfile.mkdtemp(prefix="zebcmd-companion-")
    try:
        companion = shutil.copy(options.companion, folder)
        if with_tool:
            shutil.copy(options.tool, folder)
        target = CompanionTarget(SimpleNamespace(wine=options.wine, harness=options.harness,
                                                 tool=companion))
        messages, _, got_status = target.run(["-ping", "1", "0"], dict(os.environ))
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    errors = [m[1] for m in messages if isinstance(m, tuple) and m[0] == "standard error"]
    problems = []
    if len(messages) != 1 or len(errors) != 1:
        problems.append(f"records {messages!r}, expected only standard error")
    elif not (errors[0].startswith(start) and part in errors[0]):
        problems.append(f"standard error {errors[0]!r}, expected {start!r} ... {part!r}")
    if got_status != status:
        problems.append(f"status {got_status:#x}, expected {status:#x}")
    return problems


def main():
    parser = argparse.ArgumentParser()
    for name in ("--companion", "--tool", "--wine", "--harness"):
        parser.add_argument(name, required=True)
    options = parser.parse_args()
    return report_table(CASES, lambda case: run(case, options))


if __name__ == "__main__":
    sys.exit(skip_if_cannot_run(main))
