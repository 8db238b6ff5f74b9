#!/usr/bin/env python3
"""Checks a PE file's header, imports and exports as objdump -p shows them.

Usage: pe_check.py --objdump OBJDUMP --file FILE [--format pei-i386] [--subsystem GUI]
                   [--imports DLL,...] [--require-imports DLL,...] [--exports NAME,...]
                   [--resources version,manifest] [--unwind SYMBOL]
--imports lists every DLL the file may import (case-insensitive), --require-imports those it
must import, --exports the exact set of exported names, --resources the kinds of resource 1 it
must hold. --unwind follows SYMBOL's 32-bit code in an object file instruction by instruction
and checks that its DWARF frame rows say where the CFA and the caller's EBP are at each.
Prints each difference; exits 1 if any.
"""

import argparse
import re
import subprocess
import sys

SUBSYSTEMS = {"GUI": "00000002", "CUI": "00000003"}
# Resource types by name: RT_VERSION, and RT_MANIFEST, whose resource 1 the loader reads.
RESOURCE_TYPES = {"version": 0x10, "manifest": 0x18}


def names(text):
    return [n for n in text.split(",") if n] if text else []


def parse(dump):
    file_format = re.search(r"file format (\S+)", dump)
    subsystem = re.search(r"^Subsystem\s+([0-9a-fA-F]+)", dump, re.M)
    imports = re.findall(r"^\s*DLL Name: (\S+)", dump, re.M)
    exports = []
    table = re.search(r"\[Ordinal/Name Pointer\] Table\n((?:\s*\[\s*\d+\] \S+\n)*)", dump)
    if table:
        exports = re.findall(r"\] (\S+)", table.group(1))
    return (file_format.group(1) if file_format else None,
            subsystem.group(1) if subsystem else None, imports, exports, resources(dump))


def resources(dump):
    """The (type, id) pairs of the resource directory, which objdump shows as a tree whose
    depth is the indentation of each entry: type, then name, then language."""
    found = set()
    kind = None
    for indent, number in re.findall(r"^[0-9a-f]+( +)Entry: ID: 0x([0-9a-f]+)", dump, re.M):
        if len(indent) == 3:
            kind = int(number, 16)
        elif len(indent) == 5:
            found.add((kind, int(number, 16)))
    return found


def objdump_output(objdump, file, *options):
    return subprocess.run([objdump, *options, file], check=True, capture_output=True,
                          text=True).stdout


def unwind_problems(objdump, file, symbol):
    """Follows symbol's code, knowing at each instruction how far the CFA lies above ESP and EBP
    and where the caller's EBP is saved, and compares the frame rows objdump reads."""
    body = re.search(rf"^([0-9a-f]+) <{re.escape(symbol)}>:\n((?:.+\n)*)",
                     objdump_output(objdump, file, "-d", "--no-show-raw-insn"), re.M)
    rows = [(0, {"CFA": "esp+4"})]  # the CIE's first row, which an FDE without rows keeps
    for fde in re.finditer(r"pc=([0-9a-f]+)\.\.([0-9a-f]+)\n +LOC (.*)\n((?:[0-9a-f]+ .*\n)*)",
                           objdump_output(objdump, file, "--dwarf=frames-interp")):
        if int(fde[1], 16) <= int(body[1], 16) < int(fde[2], 16):
            rows += [(int(row.split()[0], 16), dict(zip(fde[3].split(), row.split()[1:])))
                     for row in fde[4].splitlines()]
    above, saved, problems = {"esp": 4, "ebp": None}, None, []
    for address, instruction in re.findall(r"^ *([0-9a-f]+):\t(.*)$", body[2], re.M):
        rule = [rule for start, rule in rows if start <= int(address, 16)][-1]
        register, _, offset = rule["CFA"].partition("+")
        if above.get(register) != int(offset or -1) or rule.get("ebp", "u") != (
                f"c-{saved}" if saved else "u"):
            problems.append(f"{address} {instruction}: {rule}, but CFA - {above}, EBP at c-{saved}")
        operation, _, operands = instruction.partition(" ")
        target = operands.strip().split(",")[-1]
        if operation in ("push", "pop") and above["esp"] is not None:
            above["esp"] += 4 if operation == "push" else -4
        if operation == "ret":
            break
        elif (operation, target) == ("push", "%ebp") and not saved:
            saved = above["esp"]
        elif (operation, target) == ("pop", "%ebp"):
            saved = above["ebp"] = None
        elif target in ("%esp", "%ebp"):
            above[target[1:]] = above.get(operands.strip()[1:4]) if operation == "mov" else None
            if target == "%ebp" and not saved:
                problems.append(f"{address} {instruction}: EBP changes before it is saved")
    return problems


def main():
    parser = argparse.ArgumentParser()
    for name in ("--objdump", "--file"):
        parser.add_argument(name, required=True)
    for name in ("--format", "--imports", "--require-imports", "--exports", "--resources",
                 "--unwind"):
        parser.add_argument(name)
    parser.add_argument("--subsystem", choices=sorted(SUBSYSTEMS))
    options = parser.parse_args()

    file_format, subsystem, imports, exports, held = parse(
        objdump_output(options.objdump, options.file, "-p"))
    problems = (unwind_problems(options.objdump, options.file, options.unwind)
                if options.unwind else [])
    if options.format and file_format != options.format:
        problems.append(f"file format {file_format}, expected {options.format}")
    if options.subsystem and subsystem != SUBSYSTEMS[options.subsystem]:
        problems.append(f"subsystem {subsystem}, expected {SUBSYSTEMS[options.subsystem]} "
                        f"({options.subsystem})")
    imported = {name.lower(): name for name in imports}
    if options.imports is not None:
        allowed = {name.lower() for name in names(options.imports)}
        for name in sorted(set(imported) - allowed):
            problems.append(f"imports {imported[name]}, which is not allowed")
    for name in names(options.require_imports):
        if name.lower() not in imported:
            problems.append(f"does not import {name}")
    if options.exports is not None and sorted(exports) != sorted(names(options.exports)):
        problems.append(f"exports {sorted(exports)}, expected {sorted(names(options.exports))}")

    for name in names(options.resources):
        if (RESOURCE_TYPES[name], 1) not in held:
            problems.append(f"holds no {name} resource 1")

    for problem in problems:
        print(f"{options.file}: {problem}")
    if not problems:
        print(f"{options.file}: {file_format}, subsystem {subsystem}, imports {imports}, "
              f"exports {exports}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
