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


def ping(name, max_try, interval, refused, messages, status, **kwargs):
    """-ping against a server that refuses the first `refused` versions queries."""
    journal = [versions(-10)] * (len(messages) - 1) + [versions(0 if status == 1 else -10)]
    return one(name, ["-ping", max_try, interval], messages, status, journal=journal,
               server=["--ignore-versions", str(refused)], **kwargs)


UNKNOWN = [b"Unknown command\n"]
STOPPED = [b"Stop command successful\n"]
DUMPED = [b"Dump command successful\n"]
ANSWERED = [b"Ping command successful\n"]
GAVE_UP = [b"Ping command failed\n"]
FAILURE = b"Ping failure\n"


def dumped(name, args, file, shown=None):
    """A dump into file, which the journal shows as shown where its escapes differ."""
    return one(name, args, DUMPED, journal=[admin("dump", 0, shown or file)], files=[file])


def failed(command, status):
    return [f"{command} command failed (Error: {status})\n".encode()]


PARAM_ERROR = {
    "dump": b"Dump command failed: input param error\n",
    "reload": b"Reload command failed: input param error\n",
    "ping": b"Ping command failed: input param error\n",
}

CASES = [
    one("no_command_word", [], USAGE),
    one("unknown_word", ["-STOP"], UNKNOWN),
    one("empty_word", [""], UNKNOWN),
    one("abbreviated_word", ["-sto"], UNKNOWN),
    one("stop", ["-stop"], STOPPED, journal=[admin("stop")], server_exits=True),
    one("stop_ignores_extra_words", ["-stop", "now", "please"], STOPPED,
        journal=[admin("stop")], server_exits=True),
    one("stop_fails", ["-stop"], failed("Stop", 12), journal=[admin("stop", 12)],
        server=["--fail", "stop=12"]),
    one("reset", ["-reset"], [b"Reset command successful\n"], journal=[admin("reset")]),
    one("reset_fails", ["-reset"], failed("Reset", -5),
        journal=[admin("reset", -5)], server=["--fail", "reset=-5"]),
    dumped("dump", ["-dump", "{dir}/data.bin"], "{dir}/data.bin"),
    one("dump_fails", ["-dump", "{dir}/data.bin"], failed("Dump", -5),
        journal=[admin("dump", -5, "{dir}/data.bin")], server=["--fail", "dump=-5"]),
    one("dump_into_missing_folder", ["-dump", "{dir}/missing/data.bin"], failed("Dump", -7),
        journal=[admin("dump", -7, "{dir}/missing/data.bin")]),
    one("dump_empty_name", ["-dump", ""], failed("Dump", -7), journal=[admin("dump", -7)]),
    dumped("dump_latin1_name", ["-dump", "{dir}/caf\u00e9.bin"], "{dir}/caf\u00e9.bin",
           "{dir}/caf\\xe9.bin"),
    dumped("dump_name_beyond_latin1", ["-dump", "{dir}/\u6587\u4ef6.bin"], "{dir}/  .bin"),
    Case("dump_then_reload",
         [Step(["-dump", "{dir}/data.bin"], DUMPED),
          Step(["-reload", "{dir}/data.bin"], [b"Reload command successful\n"])],
         journal=[admin("dump", 0, "{dir}/data.bin"), admin("reload", 0, "{dir}/data.bin")]),
    one("reload_missing_file", ["-reload", "{dir}/none.bin"], failed("Reload", -8),
        journal=[admin("reload", -8, "{dir}/none.bin")]),
    one("reload_fails", ["-reload", "{dir}/none.bin"], failed("Reload", 3),
        journal=[admin("reload", 3, "{dir}/none.bin")], server=["--fail", "reload=3"]),
    one("dump_without_file", ["-dump"], [PARAM_ERROR["dump"]]),
    one("dump_two_files", ["-dump", "a", "b"], [PARAM_ERROR["dump"]]),
    one("reload_without_file", ["-reload"], [PARAM_ERROR["reload"]]),
    one("reload_two_files", ["-reload", "a", "b"], [PARAM_ERROR["reload"]]),
    one("ping_one_number", ["-ping", "1"], [PARAM_ERROR["ping"]]),
    one("ping_three_numbers", ["-ping", "1", "2", "3"], [PARAM_ERROR["ping"]]),
    one("ping_answered", ["-ping", "1", "0"], ANSWERED, 1, journal=[versions()]),
    ping("ping_answered_at_third_try", "5", "10", 2, [FAILURE] * 2 + ANSWERED, 1),
    ping("ping_zero_max_try_keeps_trying", "0", "1", 3, [FAILURE] * 3 + ANSWERED, 1),
    ping("ping_gives_up", "2", "0", 5, [FAILURE] + GAVE_UP, 0),
    one("ping_server_down", ["-ping", "3", "10"],
        [FAILURE] * 2 + GAVE_UP, 0, server=None),
    # Forty library calls: a calling convention that does not match the library's moves the
    # stack pointer on each of them.
    one("ping_many_failures", ["-ping", "40", "0"], [FAILURE] * 39 + GAVE_UP, 0, server=None),
    one("ping_server_down_one_try", ["-ping", "1", "500"], GAVE_UP, 0, server=None),
    one("stop_server_down", ["-stop"], failed("Stop", -3), server=None),
]
