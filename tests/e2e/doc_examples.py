#!/usr/bin/env python3
"""Runs the examples of the user documents against zebserver, so that they stay true.

man: each .EX/.EE block of the man page. Its lines "$ COMMAND" run through sh, standard error
merged into standard output; its other lines are what they print, in order.
guide: each ```bat block of the Windows guide, run by Wine's cmd from a copy of the programs'
folder, started in another one, per case: server up, no server, program missing (from the
guide's C:\ZEB), request failing (dump and reload answer -5). The ```text blocks right after it
name the cases they show (```text no server, program missing) and hold its standard output.

The server runs in a scratch folder of its own, the commands in another.
"""

import itertools
import os
import re
import shutil
import subprocess
import tempfile

import runner

ROFF_ESCAPES = {"-": "-", "e": "\\"}
FENCE = re.compile(r"^```([^`\n]*)\n(.*?)^```[ \t]*$", re.M | re.S)
# The guide's folders, which stand for the test's: the programs' folder (a copy of the built
# one) and a file as the server names it (in the server's scratch folder).
PROGRAM_FOLDER = "C:\\ZEB\\"
SERVER_FILE = "D:\\Backup\\"
GUIDE_CASES = ("server up", "no server", "program missing", "request failing")
FAILING = ["--fail", "dump=-5", "--fail", "reload=-5"]


def unescape_roff(line):
    def replace(match):
        if match.group(1) not in ROFF_ESCAPES:
            raise ValueError(f"escape {match.group(0)!r} in an example: teach the test it")
        return ROFF_ESCAPES[match.group(1)]

    return re.sub(r"\\(.)", replace, line)


def man_examples(text):
    """(script, {"server up": expected output}) for each .EX/.EE block."""
    examples, block = [], None
    for line in text.splitlines():
        if line.startswith(".EX"):
            block = []
        elif line.startswith(".EE") and block is not None:
            commands = [l[2:] for l in block if l.startswith("$ ")]
            output = "".join(l + "\n" for l in block if not l.startswith("$ "))
            if not commands:
                raise ValueError(f"an example without a command: {block!r}")
            examples.append(("\n".join(commands) + "\n", {"server up": output.encode()}))
            block = None
        elif block is not None:
            block.append(unescape_roff(line))
    return examples


def guide_examples(text):
    """(batch file, {case: output}) for each bat block, from the text blocks right after it."""
    blocks = [(info.strip(), body) for info, body in FENCE.findall(text)]
    examples = []
    for index, (info, body) in enumerate(blocks):
        if info != "bat":
            continue
        shown = itertools.takewhile(lambda block: block[0].startswith("text "), blocks[index + 1:])
        outputs = [(case.strip(), output.encode()) for kind, output in shown
                   for case in kind[len("text "):].split(",")]
        if sorted(case for case, _ in outputs) != sorted(GUIDE_CASES):
            raise ValueError(f"the text blocks after {body!r} must show each of {GUIDE_CASES} once")
        examples.append((body, dict(outputs)))
    return examples


def run_man(script, options, folder, env, server_folder, case):
    tool_folder = os.path.dirname(os.path.abspath(options.tool))
    env = dict(env, PATH=tool_folder + os.pathsep + env.get("PATH", ""))
    return subprocess.run(["sh", "-c", script], cwd=folder, env=env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          timeout=options.run_timeout).stdout


def run_guide(batch, options, folder, env, server_folder, case):
    """Runs the batch beside a copy of the programs' folder, started in FOLDER: its output."""
    from runner.wine import windows_path  # only the guide's examples run under Wine
    with tempfile.TemporaryDirectory(prefix="zebcmd-doc-programs-") as programs:
        built = os.path.dirname(os.path.abspath(options.tool))
        programs_there = [] if case == "program missing" else ["ZEBCmd.exe", "ZEBCmdCon.exe"]
        for name in programs_there + ["ZEBCli.dll"]:
            shutil.copy(os.path.join(built, name), programs)
        batch = batch.replace(PROGRAM_FOLDER, windows_path(programs) + "\\")
        batch = batch.replace(SERVER_FILE, server_folder + "/")
        path = os.path.join(programs, "example.bat")
        with open(path, "wb") as file:
            file.write(batch.replace("\n", "\r\n").encode())
        output = subprocess.run([options.wine, "cmd", "/c", windows_path(path)],
                                cwd=folder, env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                timeout=options.run_timeout).stdout
    return output.replace(b"\r\n", b"\n")


def main():
    parser = runner.parser(["tool", "server"], ["wine"], run_timeout=runner.BATCH_TIMEOUT)
    parser.add_argument("kind", choices=["man", "guide"])
    parser.add_argument("--document", required=True)
    options = runner.parse(parser)
    if options.kind == "guide" and not options.wine:
        parser.error("the guide's examples need --wine")
    with open(options.document, encoding="utf-8") as document:
        text = document.read()
    examples = (man_examples if options.kind == "man" else guide_examples)(text)
    run = run_man if options.kind == "man" else run_guide
    rows = [(f"example {number} ({case})", example, case, expected)
            for number, (example, outputs) in enumerate(examples, 1)
            for case, expected in outputs.items()]
    with tempfile.TemporaryDirectory(prefix="zebcmd-doc-server-") as server_folder, \
            tempfile.TemporaryDirectory(prefix="zebcmd-doc-commands-") as command_folder, \
            runner.Server(os.path.abspath(options.server), [], cwd=server_folder) as server, \
            runner.Server(os.path.abspath(options.server), FAILING, cwd=server_folder) as failing:
        servers = {"server up": server.address, "no server": runner.closed_port_address(),
                   "program missing": server.address, "request failing": failing.address}

        def check(row):
            _, example, case, expected = row
            output = run(example, options, command_folder,
                         dict(os.environ, ZEB_SERVER=servers[case]), server_folder, case)
            return [] if output == expected else [f"{example!r}",
                                                  f"printed {output!r}, expected {expected!r}"]

        return runner.report_table(rows, check)


if __name__ == "__main__":
    runner.exit_with(main)
