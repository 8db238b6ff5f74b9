#!/usr/bin/env python3
"""Runs the examples of the user documents against zebserver, so that they stay true.

man: each .EX/.EE block of the man page. Its lines "$ COMMAND" run through sh, standard error
merged into standard output; its other lines are what they print, in order.
guide: each ```bat block of the Windows guide, run as a batch file by Wine's cmd, kept in a
folder that holds the programs (the guide's C:\ZEB) and started from another one, as a scheduled
task is. The two ```text blocks after it are what it prints with the server answering and with
no server. The guide's example paths stand for the test's folders.

The server runs in a scratch folder of its own, the commands in another.
"""

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
PROGRAM_FOLDER = "C:\\ZEB"
SERVER_FILE = "D:\\Backup\\"


def unescape_roff(line):
    def replace(match):
        if match.group(1) not in ROFF_ESCAPES:
            raise ValueError(f"escape {match.group(0)!r} in an example: teach the test it")
        return ROFF_ESCAPES[match.group(1)]

    return re.sub(r"\\(.)", replace, line)


def man_examples(text):
    """(script, {"up": expected output}) for each .EX/.EE block."""
    examples, block = [], None
    for line in text.splitlines():
        if line.startswith(".EX"):
            block = []
        elif line.startswith(".EE") and block is not None:
            commands = [l[2:] for l in block if l.startswith("$ ")]
            output = "".join(l + "\n" for l in block if not l.startswith("$ "))
            if not commands:
                raise ValueError(f"an example without a command: {block!r}")
            examples.append(("\n".join(commands) + "\n", {"up": output.encode()}))
            block = None
        elif block is not None:
            block.append(unescape_roff(line))
    return examples


def guide_examples(text):
    """(batch file, {"up": output, "no server": output}) for each bat block."""
    blocks = [(info.strip(), body) for info, body in FENCE.findall(text)]
    examples = []
    for index, (info, body) in enumerate(blocks):
        if info != "bat":
            continue
        outputs = blocks[index + 1:index + 3]
        if [kind for kind, _ in outputs] != ["text", "text"]:
            raise ValueError(f"no two text blocks (server up, no server) after {body!r}")
        examples.append((body, {"up": outputs[0][1].encode(),
                                "no server": outputs[1][1].encode()}))
    return examples


def run_man(script, options, folder, env, server_folder):
    tool_folder = os.path.dirname(os.path.abspath(options.tool))
    env = dict(env, PATH=tool_folder + os.pathsep + env.get("PATH", ""))
    return subprocess.run(["sh", "-c", script], cwd=folder, env=env, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          timeout=options.run_timeout).stdout


def run_guide(batch, options, folder, env, server_folder):
    """Runs the batch from a copy of the programs' folder, started in FOLDER."""
    from runner.wine import windows_path  # only the guide's examples run under Wine
    with tempfile.TemporaryDirectory(prefix="zebcmd-doc-programs-") as programs:
        built = os.path.dirname(os.path.abspath(options.tool))
        for name in ("ZEBCmd.exe", "ZEBCmdCon.exe", "ZEBCli.dll"):
            shutil.copy(os.path.join(built, name), programs)
        batch = batch.replace(PROGRAM_FOLDER, windows_path(programs))
        batch = batch.replace(SERVER_FILE, server_folder + "/")
        path = os.path.join(programs, "example.bat")
        with open(path, "wb") as file:
            file.write(batch.replace("\n", "\r\n").encode())
        output = subprocess.run([options.wine, "cmd", "/c", windows_path(path)],
                                cwd=folder, env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
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
            runner.Server(os.path.abspath(options.server), [], cwd=server_folder) as server:
        servers = {"up": server.address, "no server": runner.closed_port_address()}

        def check(row):
            _, example, case, expected = row
            output = run(example, options, command_folder,
                         dict(os.environ, ZEB_SERVER=servers[case]), server_folder)
            return [] if output == expected else [f"{example!r}",
                                                  f"printed {output!r}, expected {expected!r}"]

        return runner.report_table(rows, check)


if __name__ == "__main__":
    runner.exit_with(main)
