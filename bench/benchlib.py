"""Pieces shared by bench.py and explore.py: processes, servers, alternating timing, formats."""

import ctypes
import os
import platform
import re
import signal
import socket
import statistics
import subprocess
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
NATIVE_BUILD = "/tmp/build-bench"
CHILD_TIMEOUT_S = 10  # any single timed child taking longer than this is killed


class BenchError(Exception):
    pass


_libc = ctypes.CDLL(None, use_errno=True)
_PR_SET_PDEATHSIG = 1


def _die_with_parent():
    # Servers must not outlive the benchmark, even when it is killed with SIGKILL.
    _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGTERM, 0, 0, 0)


class Processes:
    """Every long-running process the benchmark starts; stop_all() ends them (called on exit)."""

    def __init__(self):
        self.started = []

    def start(self, argv, **kwargs):
        proc = subprocess.Popen(argv, preexec_fn=_die_with_parent, **kwargs)
        self.started.append(proc)
        return proc

    def stop(self, proc, timeout=5):
        if proc.poll() is None:
            proc.terminate()
            try:
                proc.wait(timeout)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
        if proc in self.started:
            self.started.remove(proc)
        return proc.returncode

    def stop_all(self):
        for proc in list(self.started):
            self.stop(proc)


def install_exit_handlers(processes):
    def on_signal(signum, _frame):
        raise SystemExit(128 + signum)

    for signum in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(signum, on_signal)
    import atexit

    atexit.register(processes.stop_all)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def closed_port_address():
    # A port that was free a moment ago: connecting to it is refused at once.
    return f"127.0.0.1:{free_port()}"


class ZebServer:
    """A stand-in server on 127.0.0.1 with its journal in a file."""

    def __init__(self, processes, zebserver, workdir, extra=()):
        self.processes = processes
        fd, self.journal_path = tempfile.mkstemp(prefix="journal-", suffix=".txt", dir=workdir)
        self.journal = os.fdopen(fd, "w")
        self.proc = processes.start([zebserver, "--port", "0", *extra], stdout=self.journal,
                                    stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
        deadline = time.monotonic() + 5
        self.port = None
        while time.monotonic() < deadline and self.proc.poll() is None:
            with open(self.journal_path) as f:
                m = re.match(r"listening on 127\.0\.0\.1:(\d+)\n", f.readline())
            if m:
                self.port = int(m.group(1))
                break
            time.sleep(0.005)
        if self.port is None:
            self.stop()
            raise BenchError("zebserver did not report its port within 5 s")
        self.address = f"127.0.0.1:{self.port}"

    def stop(self):
        self.processes.stop(self.proc)
        self.journal.close()

    def journal_lines(self):
        with open(self.journal_path) as f:
            return f.read().splitlines()[1:]


class RedisServer:
    """redis-server on 127.0.0.1 with persistence off, as the peer a scheduler might also call."""

    def __init__(self, processes, workdir):
        self.processes = processes
        for _ in range(3):
            self.port = free_port()
            self.proc = processes.start(
                ["redis-server", "--port", str(self.port), "--bind", "127.0.0.1", "--save", "",
                 "--appendonly", "no", "--daemonize", "no", "--dir", workdir, "--logfile", ""],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL)
            deadline = time.monotonic() + 5
            while time.monotonic() < deadline and self.proc.poll() is None:
                r = subprocess.run(["redis-cli", "-p", str(self.port), "ping"],
                                   capture_output=True, text=True, timeout=5)
                if r.stdout.strip() == "PONG":
                    return
                time.sleep(0.02)
            processes.stop(self.proc)
        raise BenchError("redis-server did not answer within 5 s (3 attempts)")

    def stop(self):
        self.processes.stop(self.proc)


class _Watchdog:
    """Kills the current timed child if it runs longer than CHILD_TIMEOUT_S."""

    def __init__(self):
        self.pid = None
        signal.signal(signal.SIGALRM, self._fire)

    def _fire(self, _signum, _frame):
        if self.pid is not None:
            os.kill(self.pid, signal.SIGKILL)


class Spawner:
    """posix_spawn + waitpid timed with perf_counter_ns; the child's stdio goes to /dev/null."""

    def __init__(self):
        self.null = os.open(os.devnull, os.O_RDWR)
        self.actions = [(os.POSIX_SPAWN_DUP2, self.null, 0), (os.POSIX_SPAWN_DUP2, self.null, 1),
                        (os.POSIX_SPAWN_DUP2, self.null, 2)]
        self.watchdog = _Watchdog()

    def run(self, argv, env):
        """Returns (nanoseconds, exit code); a killed child gives a negative code."""
        signal.alarm(CHILD_TIMEOUT_S)
        start = time.perf_counter_ns()
        pid = os.posix_spawn(argv[0], argv, env, file_actions=self.actions)
        self.watchdog.pid = pid
        _, status = os.waitpid(pid, 0)
        end = time.perf_counter_ns()
        self.watchdog.pid = None
        signal.alarm(0)
        return end - start, os.waitstatus_to_exitcode(status)


def _cpu_snapshot():
    with open("/proc/stat") as f:
        fields = [int(x) for x in f.readline().split()[1:]]
    user, nice, system, idle, iowait, irq, softirq, steal = (fields + [0] * 8)[:8]
    hz = os.sysconf("SC_CLK_TCK")
    own = os.times()
    return ((user + nice + system + irq + softirq) / hz, steal / hz,
            own.user + own.system + own.children_user + own.children_system, time.monotonic())


def other_load(before, after):
    """CPUs kept busy by other processes between two snapshots (the servers this benchmark
    talks to count as others, but they do little), and the CPUs stolen by the hypervisor."""
    wall = after[3] - before[3]
    if wall <= 0:
        return 0.0, 0.0
    busy, steal, own = (a - b for a, b in zip(after[:3], before[:3]))
    return max(0.0, busy - own) / wall, steal / wall


def alternate(commands, rounds, warmup=10, budget_s=240):
    """Runs each command once per round, rotating the order every round, so that drift in
    machine load hits every command alike. commands: list of (name, argv, env, expected_code).
    Returns ({name: [ns, ...]}, {name: [unexpected exit codes]}, rounds actually measured,
    (CPUs used by other processes, CPUs stolen) during the measured rounds)."""
    spawner = Spawner()
    times = {name: [] for name, *_ in commands}
    bad = {name: [] for name, *_ in commands}
    deadline = time.monotonic() + budget_s
    done = 0
    snapshot = None
    for r in range(warmup + rounds):
        if time.monotonic() > deadline:
            break
        if r == warmup:
            snapshot = _cpu_snapshot()
        k = r % len(commands)
        for name, argv, env, expected in commands[k:] + commands[:k]:
            ns, code = spawner.run(argv, env)
            if code != expected:
                bad[name].append(code)
            if r >= warmup:
                times[name].append(ns)
        if r >= warmup:
            done += 1
    load = other_load(snapshot, _cpu_snapshot()) if snapshot else (0.0, 0.0)
    return times, bad, done, load


def quantile(values, q):
    xs = sorted(values)
    if not xs:
        return float("nan")
    pos = (len(xs) - 1) * q
    lo = int(pos)
    hi = min(lo + 1, len(xs) - 1)
    return xs[lo] + (xs[hi] - xs[lo]) * (pos - lo)


def median(values):
    return statistics.median(values) if values else float("nan")


def peak_rss_kib(argv, env, runs=5):
    """Peak resident set of the child as GNU time's %M reports it (KiB), one value per run."""
    out = []
    with tempfile.NamedTemporaryFile("r", suffix=".rss") as f:
        for _ in range(runs):
            subprocess.run(["/usr/bin/time", "-f", "%M", "-o", f.name, *argv], env=env,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=CHILD_TIMEOUT_S)
            f.seek(0)
            text = f.read().strip().splitlines()
            if not text or not text[-1].isdigit():
                raise BenchError(f"/usr/bin/time gave no peak RSS for {argv}: {text!r}")
            out.append(int(text[-1]))
    return out


def table(headers, rows, align=None):
    """A Markdown table; align is a string of 'l'/'r' per column."""
    align = align or "l" + "r" * (len(headers) - 1)
    cells = [headers] + [[str(c) for c in row] for row in rows]
    widths = [max(len(r[i]) for r in cells) for i in range(len(headers))]

    def line(row):
        return "| " + " | ".join(c.ljust(w) if a == "l" else c.rjust(w)
                                 for c, w, a in zip(row, widths, align)) + " |"

    sep = "|" + "|".join(("-" * (w + 1) + ":") if a == "r" else (":" + "-" * (w + 1))
                         for w, a in zip(widths, align)) + "|"
    return "\n".join([line(cells[0]), sep] + [line(r) for r in cells[1:]])


def _first_line(argv):
    try:
        r = subprocess.run(argv, capture_output=True, text=True, timeout=10)
        return (r.stdout or r.stderr).strip().splitlines()[0]
    except (OSError, IndexError, subprocess.TimeoutExpired):
        return "unavailable"


def machine_description():
    model = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    return [
        ("nproc", str(os.cpu_count())),
        ("CPU", model),
        ("kernel", platform.release()),
        ("C++ compiler", _first_line(["g++", "--version"])),
        ("MinGW compiler", _first_line(["i686-w64-mingw32-g++-posix", "--version"])),
        ("glibc", platform.libc_ver()[1] or "unknown"),
        ("cmake", _first_line(["cmake", "--version"])),
        ("python", platform.python_version()),
        ("hyperfine", _first_line(["hyperfine", "--version"])),
        ("redis", _first_line(["redis-server", "--version"])),
    ]
