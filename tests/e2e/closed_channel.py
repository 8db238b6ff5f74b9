#!/usr/bin/env python3
"""The tool's exit status survives a debug channel that nobody reads: standard error is a pipe
whose reading end is already closed ("closed"), or one whose buffer is full and whose reader
is alive but never reads ("stalled"), also when the tool starts with every signal blocked or
with no signal allowed to queue. A stalled channel costs at most 250 ms, once per run.
Around the channel: a watchdog timer set before exec still ends the tool ("watchdog"), and
descriptors 0, 1 and 2 closed at start are open on /dev/null while it runs ("unopened").
With --wine, the tool is ZEBCmdCon.exe under that Wine loader and the channel its standard
output, which must not hold up ZEBCmd.exe either; the rows about the POSIX process stay out.
"""

import os
import resource
import signal
import subprocess
import time

import runner

# Ten bounds (250 ms): fifty messages that each waited the bound would take fifty. Under Wine,
# start-up alone takes seconds.
STALLED_LIMIT = {"native": 10 * runner.constant("src/channel_bound.h", "kChannelBoundMs") / 1000,
                 "wine": 10}
# The watchdog's interval; the tool runs until something stops it.
WATCHDOG_SECONDS = 1
# What the POSIX tool inherits besides its channel, set in the child before exec.
INHERITED = {
    "watchdog": lambda: signal.setitimer(signal.ITIMER_REAL, WATCHDOG_SECONDS),
    "unopened": lambda: [os.close(fd) for fd in range(3)],
    "stalled_all_blocked": lambda: signal.pthread_sigmask(signal.SIG_BLOCK,
                                                          signal.valid_signals()),
    "stalled_unqueued": lambda: resource.setrlimit(resource.RLIMIT_SIGPENDING, (0, 0)),
}

CASES = [
    # (name, channel, args, zebserver options or None for no server, exit status)
    ("ping_answered", "closed", ["-ping", "1", "0"], [], 1),
    ("ping_answered_after_failures", "closed", ["-ping", "3", "0"], ["--ignore-versions", "2"], 1),
    ("ping_server_down", "closed", ["-ping", "2", "0"], None, 0),
    ("stop", "closed", ["-stop"], [], 0),
    ("usage", "closed", [], None, 0),
    ("stalled_ping_answered", "stalled", ["-ping", "3", "100"], [], 1),
    ("stalled_ping_answered_after_failures", "stalled", ["-ping", "3", "100"],
     ["--ignore-versions", "2"], 1),
    ("stalled_stop", "stalled", ["-stop"], [], 0),
    ("stalled_ping_server_down", "stalled", ["-ping", "3", "0"], None, 0),
    ("stalled_ping_fifty_failures", "stalled", ["-ping", "50", "0"], None, 0),
    ("stalled_all_signals_blocked", "stalled_all_blocked", ["-ping", "50", "0"], None, 0),
    ("stalled_no_signal_may_queue", "stalled_unqueued", ["-ping", "50", "0"], None, 0),
    ("watchdog_ends_endless_ping", "watchdog", ["-ping", "0", "200"], None, -signal.SIGALRM),
    ("unopened_ping_server_down", "unopened", ["-ping", "3", "300"], None, 0),
]


def full_pipe():
    reading, writing = os.pipe()
    os.set_blocking(writing, False)
    for size in (4096, 1):
        try:
            while True:
                os.write(writing, b"f" * size)
        except BlockingIOError:
            pass
    os.set_blocking(writing, True)
    return reading, writing


def standard_descriptors(pid):
    """Where descriptors 0, 1 and 2 of a running process lead; None for a closed one."""
    targets = []
    for fd in range(3):
        try:
            targets.append(os.readlink(f"/proc/{pid}/fd/{fd}"))
        except OSError:
            targets.append(None)
    return targets


def run_on_channel(command, channel, args, env, stream, timeout):
    """Exit status (None when it hung, or for "unopened" when 0, 1 and 2 were never all open on
    /dev/null) and seconds taken; the channel is the stream named "stdout" or "stderr", the
    other one is discarded."""
    reading = writing = None
    if channel == "closed":
        reading, writing = os.pipe()
        os.close(reading)
        reading = None
    elif channel.startswith("stalled"):
        reading, writing = full_pipe()
    elif channel == "watchdog":
        writing = subprocess.DEVNULL
    null = subprocess.DEVNULL if channel != "unopened" else None
    start = time.monotonic()
    seen_open = False
    try:
        # Popen restores SIGPIPE's default action in the child, as a shell would leave it.
        streams = {"stdout": null, "stderr": null, stream: writing}
        proc = subprocess.Popen(command + args, stdin=null, env=env,
                                preexec_fn=INHERITED.get(channel), **streams)
        while proc.poll() is None and time.monotonic() - start < timeout:
            if channel == "unopened" and not seen_open:
                seen_open = standard_descriptors(proc.pid) == ["/dev/null"] * 3
            time.sleep(0.005)
        if proc.poll() is None:
            proc.kill()
            proc.wait()
            status = None
        else:
            status = proc.returncode
    finally:
        if isinstance(writing, int) and writing >= 0:
            os.close(writing)
        if reading is not None:
            os.close(reading)
    if channel == "unopened" and not seen_open:
        status = None
    return status, time.monotonic() - start


def check(case, options):
    _, channel, args, server_options, expected = case
    command, stream = [options.tool], "stderr"
    if options.wine:
        command, stream = [options.wine, options.tool], "stdout"
    with runner.Server(options.server, server_options, expect_exit=args == ["-stop"]) as server:
        status, seconds = run_on_channel(command, channel, args,
                                         dict(os.environ, ZEB_SERVER=server.address), stream,
                                         options.run_timeout)
    problems = []
    if status != expected:
        problems.append(f"exit status {status}, expected {expected}, {seconds:.2f} s")
    limit = STALLED_LIMIT["wine" if options.wine else "native"]
    if channel != "closed" and seconds >= limit:
        problems.append(f"took {seconds:.2f} s, limit {limit} s")
    return problems


def main():
    options = runner.parse(runner.parser(["server", "tool"], ["wine"]))
    cases = [case for case in CASES if not (options.wine and case[1] in INHERITED)]
    return runner.report_table(cases, lambda case: check(case, options))


if __name__ == "__main__":
    runner.exit_with(main)
