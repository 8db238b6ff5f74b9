"""End-to-end cases shared by every target: one run of the tool per step against zebserver.

A step's args follow the program path. "{dir}" stands for the case's scratch folder.
messages: the debug messages, one entry per write, in order. journal: the server's journal
lines without their timestamp. server: zebserver's extra options, or None for no server (the
library is pointed at a closed port).
"""

from dataclasses import dataclass, field
from typing import List, Optional

USAGE = [
    b"Usage: ZEBCmd [-stop] [-reset] [-dump (file)] [-reload (file)] [-ping (MaxTry) (TryInterval)]...\n\n",
    b"        -stop : stop ZEB server\n",
    b"        -reset : reset ZEB server in its initial state\n",
    b"        -dump : dump server data to (file)\n",
    b"        -reload : reload (file) in server data\n",
    b"        -ping : try to talk to the server for (MaxTry) times\n",
    b"\t\t\t\tWait (TryInterval) ms  on error\n",
    b"\t\t\t\tReturn 1 at first server response and else 0\n",
    b"\n\n",
]

CREDENTIALS = 'user="admin"'


@dataclass
class Step:
    args: List[str]
    messages: List[bytes]
    status: int = 0


@dataclass
class Case:
    name: str
    steps: List[Step]
    journal: List[str] = field(default_factory=list)
    server: Optional[List[str]] = field(default_factory=list)
    files: List[str] = field(default_factory=list)  # must exist afterwards
    server_exits: bool = False


def admin(op, status=0, file=None):
    return f'{op} {CREDENTIALS} file="{file or ""}" status={status}'


def versions(status=0):
    return f'versions user="" file="" status={status}'


def one(name, args, messages, status=0, **kwargs):
    return Case(name, [Step(args, messages, status)], **kwargs)


PARAM_ERROR = {
    "dump": b"Dump command failed: input param error\n",
    "reload": b"Reload command failed: input param error\n",
    "ping": b"Ping command failed: input param error\n",
}

CASES = [
    one("no_command_word", [], USAGE),
    one("unknown_word", ["-STOP"], [b"Unknown command\n"]),
    one("empty_word", [""], [b"Unknown command\n"]),
    one("abbreviated_word", ["-sto"], [b"Unknown command\n"]),
    one("stop", ["-stop"], [b"Stop command successful\n"], journal=[admin("stop")],
        server_exits=True),
    one("stop_ignores_extra_words", ["-stop", "now", "please"], [b"Stop command successful\n"],
        journal=[admin("stop")], server_exits=True),
    one("stop_fails", ["-stop"], [b"Stop command failed (Error: 12)\n"],
        journal=[admin("stop", 12)], server=["--fail", "stop=12"]),
    one("reset", ["-reset"], [b"Reset command successful\n"], journal=[admin("reset")]),
    one("reset_fails", ["-reset"], [b"Reset command failed (Error: -5)\n"],
        journal=[admin("reset", -5)], server=["--fail", "reset=-5"]),
    one("dump", ["-dump", "{dir}/data.bin"], [b"Dump command successful\n"],
        journal=[admin("dump", 0, "{dir}/data.bin")], files=["{dir}/data.bin"]),
    one("dump_fails", ["-dump", "{dir}/data.bin"], [b"Dump command failed (Error: -5)\n"],
        journal=[admin("dump", -5, "{dir}/data.bin")], server=["--fail", "dump=-5"]),
    one("dump_into_missing_folder", ["-dump", "{dir}/missing/data.bin"],
        [b"Dump command failed (Error: -7)\n"],
        journal=[admin("dump", -7, "{dir}/missing/data.bin")]),
    one("dump_empty_name", ["-dump", ""], [b"Dump command failed (Error: -7)\n"],
        journal=[admin("dump", -7)]),
    one("dump_latin1_name", ["-dump", "{dir}/caf\u00e9.bin"], [b"Dump command successful\n"],
        journal=[admin("dump", 0, "{dir}/caf\\xe9.bin")], files=["{dir}/caf\u00e9.bin"]),
    one("dump_name_beyond_latin1", ["-dump", "{dir}/\u6587\u4ef6.bin"],
        [b"Dump command successful\n"], journal=[admin("dump", 0, "{dir}/  .bin")],
        files=["{dir}/  .bin"]),
    Case("dump_then_reload",
         [Step(["-dump", "{dir}/data.bin"], [b"Dump command successful\n"]),
          Step(["-reload", "{dir}/data.bin"], [b"Reload command successful\n"])],
         journal=[admin("dump", 0, "{dir}/data.bin"), admin("reload", 0, "{dir}/data.bin")]),
    one("reload_missing_file", ["-reload", "{dir}/none.bin"],
        [b"Reload command failed (Error: -8)\n"], journal=[admin("reload", -8, "{dir}/none.bin")]),
    one("reload_fails", ["-reload", "{dir}/none.bin"], [b"Reload command failed (Error: 3)\n"],
        journal=[admin("reload", 3, "{dir}/none.bin")], server=["--fail", "reload=3"]),
    one("dump_without_file", ["-dump"], [PARAM_ERROR["dump"]]),
    one("dump_two_files", ["-dump", "a", "b"], [PARAM_ERROR["dump"]]),
    one("reload_without_file", ["-reload"], [PARAM_ERROR["reload"]]),
    one("reload_two_files", ["-reload", "a", "b"], [PARAM_ERROR["reload"]]),
    one("ping_one_number", ["-ping", "1"], [PARAM_ERROR["ping"]]),
    one("ping_three_numbers", ["-ping", "1", "2", "3"], [PARAM_ERROR["ping"]]),
    one("ping_answered", ["-ping", "1", "0"], [b"Ping command successful\n"], 1,
        journal=[versions()]),
    one("ping_answered_at_third_try", ["-ping", "5", "10"],
        [b"Ping failure\n", b"Ping failure\n", b"Ping command successful\n"], 1,
        journal=[versions(-10), versions(-10), versions()], server=["--ignore-versions", "2"]),
    one("ping_zero_max_try_keeps_trying", ["-ping", "0", "1"],
        [b"Ping failure\n"] * 3 + [b"Ping command successful\n"], 1,
        journal=[versions(-10)] * 3 + [versions()], server=["--ignore-versions", "3"]),
    one("ping_gives_up", ["-ping", "2", "0"], [b"Ping failure\n", b"Ping command failed\n"], 0,
        journal=[versions(-10)] * 2, server=["--ignore-versions", "5"]),
    one("ping_server_down", ["-ping", "3", "10"],
        [b"Ping failure\n", b"Ping failure\n", b"Ping command failed\n"], 0, server=None),
    # Forty library calls: a calling convention that does not match the library's moves the
    # stack pointer on each of them.
    one("ping_many_failures", ["-ping", "40", "0"],
        [b"Ping failure\n"] * 39 + [b"Ping command failed\n"], 0, server=None),
    one("ping_server_down_one_try", ["-ping", "1", "500"], [b"Ping command failed\n"], 0,
        server=None),
    one("stop_server_down", ["-stop"], [b"Stop command failed (Error: -3)\n"], server=None),
]
