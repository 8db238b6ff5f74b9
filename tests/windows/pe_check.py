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


def unwind_problems(objdump, file, symbol):
    code = subprocess.run([objdump, "-d", "--no-show-raw-insn", file], check=True,
                          capture_output=True, text=True).stdout
    body = re.search(rf"^([0-9a-f]+) <{re.escape(symbol)}>:\n((?:.+\n)*)", code, re.M)
    if not body:
        return [f"no symbol {symbol}"]
    frames = subprocess.run([objdump, "--dwarf=frames-interp", file], check=True,
                            capture_output=True, text=True).stdout
    # Each entry's rows, as (address, {column: rule}); an FDE without rows keeps its CIE's.
    rows, tables = None, {}
    for entry in frames.split("\n\n"):
        head = re.match(r"([0-9a-f]+) [0-9a-f]+ [0-9a-f]+ (?:CIE|FDE cie=([0-9a-f]+) "
                        r"pc=([0-9a-f]+)\.\.([0-9a-f]+))", entry.strip())
        if not head:
            continue
        lines = entry.strip().split("\n")
        table = [(int(line.split()[0], 16), dict(zip(lines[1].split()[1:], line.split()[1:])))
                 for line in lines[2:]] or tables.get(head.group(2), [])
        tables[head.group(1)] = table
        start = int(body.group(1), 16)
        if head.group(3) and int(head.group(3), 16) <= start < int(head.group(4), 16):
            rows = table
    if rows is None:
        return [f"no frame description covers {symbol}"]
    # CFA minus each register, where known; saved: where the caller's EBP is while EBP differs.
    cfa_minus = {"esp": 4, "ebp": None}
    saved, problems = None, []
    for address, instruction in re.findall(r"^ *([0-9a-f]+):\t(.*)$", body.group(2), re.M):
        rule = [r for a, r in rows if a <= int(address, 16)][-1]
        cfa = re.fullmatch(r"(e[bs]p)\+(\d+)", rule["CFA"])
        ebp = rule.get("ebp", "u")
        if not cfa or cfa_minus[cfa.group(1)] != int(cfa.group(2)):
            problems.append(f"{address} {instruction}: CFA {rule['CFA']}, known {cfa_minus}")
        if ebp != (f"c-{saved}" if saved else "u"):
            problems.append(f"{address} {instruction}: EBP {ebp}, saved at c-{saved}")
        operation, _, operands = instruction.partition(" ")
        if operation == "ret":
            break
        target = operands.strip().split(",")[-1]
        if operation == "push" and target == "%ebp" and saved is None:
            saved = cfa_minus["esp"] + 4
        if operation == "pop" and target == "%ebp":
            saved, cfa_minus["ebp"] = None, None
            target = None
        step = {"push": 4, "pop": -4}.get(operation)
        if step and cfa_minus["esp"] is not None:
            cfa_minus["esp"] += step
        elif operation == "mov" and operands.strip() in ("%esp,%ebp", "%ebp,%esp"):
            cfa_minus[target[1:]] = cfa_minus["esp" if target == "%ebp" else "ebp"]
        elif operation.startswith("call") or target in ("%esp", "%ebp"):
            cfa_minus["esp" if operation.startswith("call") else target[1:]] = None
        if target == "%ebp" and not saved:
            problems.append(f"{address} {instruction}: changes EBP before saving it")
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

    if options.unwind:
        problems = unwind_problems(options.objdump, options.file, options.unwind)
        for problem in problems:
            print(f"{options.file}: {problem}")
        return 1 if problems else 0
    dump = subprocess.run([options.objdump, "-p", options.file], check=True,
                          capture_output=True, text=True).stdout
    file_format, subsystem, imports, exports, held = parse(dump)
    problems = []
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
