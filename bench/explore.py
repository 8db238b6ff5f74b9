"""Where ZEBCmd's start-up cost goes: build variants of the tree and small reference programs,
timed against each other and /bin/true in one alternating loop. Run as `bench/run --explore`.
Every variant is built under /tmp/build-bench-x/; the checkout itself is never changed."""

import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

import benchlib as bl

ROOT = "/tmp/build-bench-x"

# name -> (extra cmake arguments, what it shows). CMake's Release flags are -O3 -DNDEBUG.
FLAGS = "-DCMAKE_CXX_FLAGS="
EXE = "-DCMAKE_EXE_LINKER_FLAGS="
SHARED = "-DCMAKE_SHARED_LINKER_FLAGS="
VARIANTS = [
    ("base", [], "as the CMakeLists build it (Release: -O3)"),
    ("O2", ["-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG"], "-O2 instead of -O3"),
    ("Os", ["-DCMAKE_CXX_FLAGS_RELEASE=-Os -DNDEBUG"], "-Os instead of -O3"),
    ("gc-sections", [FLAGS + "-ffunction-sections -fdata-sections", EXE + "-Wl,--gc-sections",
                     SHARED + "-Wl,--gc-sections"], "drop unreferenced sections"),
    ("z-now", [EXE + "-Wl,-z,now", SHARED + "-Wl,-z,now"], "bind every symbol at load"),
    ("fno-plt", [FLAGS + "-fno-plt"], "calls through the GOT, no PLT stubs"),
    ("as-needed", [EXE + "-Wl,--as-needed", SHARED + "-Wl,--as-needed"], "drop unused NEEDED"),
    ("hash-gnu", [EXE + "-Wl,--hash-style=gnu", SHARED + "-Wl,--hash-style=gnu"],
     "GNU hash only"),
    ("relr", [EXE + "-Wl,-z,pack-relative-relocs", SHARED + "-Wl,-z,pack-relative-relocs"],
     "relative relocations packed (DT_RELR)"),
    ("no-pie", [FLAGS + "-fno-pie", EXE + "-no-pie"], "tool linked at a fixed address"),
    ("installed", ["INSTALL"], "base, installed: RUNPATH $ORIGIN/../lib instead of the build "
     "tree's '<build>/standin:'"),
    ("combined", ["INSTALL", "-DCMAKE_CXX_FLAGS_RELEASE=-Os -DNDEBUG",
                  FLAGS + "-ffunction-sections -fdata-sections",
                  EXE + "-Wl,--gc-sections -Wl,-z,pack-relative-relocs -Wl,--as-needed",
                  SHARED + "-Wl,--gc-sections -Wl,-z,pack-relative-relocs -Wl,--as-needed"],
     "installed + Os + gc-sections + relr + as-needed"),
]

# The 32-bit Windows build: sizes only (this machine runs it only under Wine).
WIN_VARIANTS = [
    ("win base", [], "as the windows-x86 preset builds it (Release)"),
    ("win -s", [EXE + "-s", SHARED + "-s"], "symbols stripped at link time"),
    ("win gc-sections", [FLAGS + "-ffunction-sections -fdata-sections",
                         EXE + "-Wl,--gc-sections", SHARED + "-Wl,--gc-sections"], ""),
    ("win gc-sections -s", [FLAGS + "-ffunction-sections -fdata-sections",
                            EXE + "-Wl,--gc-sections -s", SHARED + "-Wl,--gc-sections -s"], ""),
    ("win Os gc-sections -s", ["-DCMAKE_CXX_FLAGS_RELEASE=-Os -DNDEBUG",
                               FLAGS + "-ffunction-sections -fdata-sections",
                               EXE + "-Wl,--gc-sections -s", SHARED + "-Wl,--gc-sections -s"], ""),
]

STATIC_RUNTIME_LINE = "set(ZEBCMD_STATIC_RUNTIME -static-libstdc++ -static-libgcc)"

# The same request the tool makes, written against the socket calls alone.
REQUEST_C = r"""
#include <arpa/inet.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>
int main(void) {
  const char *address = getenv("ZEB_SERVER"), *colon = address ? strrchr(address, ':') : 0;
  if (!colon || colon - address >= 64) return 2;
  char host[64];
  memcpy(host, address, (size_t)(colon - address));
  host[colon - address] = 0;
  struct sockaddr_in to = {0};
  to.sin_family = AF_INET;
  to.sin_port = htons((unsigned short)atoi(colon + 1));
  if (inet_pton(AF_INET, host, &to.sin_addr) != 1) return 2;
  int answered = 0, fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  static const char request[5] = {0, 0, 0, 1, 1};
  if (fd >= 0 && connect(fd, (struct sockaddr *)&to, sizeof to) == 0 &&
      send(fd, request, sizeof request, MSG_NOSIGNAL) == (ssize_t)sizeof request) {
    unsigned char in[4096];
    size_t got = 0;
    for (;;) {
      if (got >= 8 && got >= 4 + ((size_t)in[0] << 24 | in[1] << 16 | in[2] << 8 | in[3])) {
        answered = (in[4] | in[5] | in[6] | in[7]) == 0;
        break;
      }
      ssize_t n = recv(fd, in + got, sizeof in - got, 0);
      if (n <= 0) break;
      got += (size_t)n;
    }
  }
  if (fd >= 0) close(fd);
  const char *line = answered ? "Ping command successful\n" : "Ping command failed\n";
  write(2, line, strlen(line));
  return answered;
}
"""

# The tool's calls made from C through the client library.
LIB_C = r"""
#include <string.h>
#include <unistd.h>
#include "zebcli/zebcli.h"
int main(void) {
  char server[128], protocol[128];
  ZEBC_Init();
  int answered = ZEBC_GetVersions(server, sizeof server, protocol, sizeof protocol) == 0;
  ZEBC_Close();
  const char *line = answered ? "Ping command successful\n" : "Ping command failed\n";
  write(2, line, strlen(line));
  return answered;
}
"""

# A client library that answers at once: what ZEBCmd costs without the stand-in's C++ runtime
# and network code.
STUB_C = r"""
#define ZEBC_BUILDING_LIBRARY
#include "zebcli/zebcli.h"
static void put(char *buffer, int size, const char *text) {
  int i = 0;
  if (!buffer || size <= 0) return;
  for (; text[i] && i < size - 1; ++i) buffer[i] = text[i];
  buffer[i] = 0;
}
int ZEBC_Init(void) { return 0; }
int ZEBC_Close(void) { return 0; }
int ZEBC_GetVersions(char *b1, int s1, char *b2, int s2) { put(b1, s1, "1"); put(b2, s2, "1");
  return 0; }
int ZEBC_Adm_Close(const char *u, const char *p) { (void)u; (void)p; return 0; }
int ZEBC_Adm_Restart(const char *u, const char *p) { (void)u; (void)p; return 0; }
int ZEBC_Adm_Dump(const char *u, const char *p, const char *f) { (void)u; (void)p; (void)f;
  return 0; }
int ZEBC_Adm_Reload(const char *u, const char *p, const char *f) { (void)u; (void)p; (void)f;
  return 0; }
"""


def run(argv, **kwargs):
    r = subprocess.run(argv, capture_output=True, text=True, **kwargs)
    if r.returncode != 0:
        sys.stderr.write(r.stdout + r.stderr)
        raise bl.BenchError("failed: " + " ".join(argv))
    return r


def cmake_build(source, build_dir, extra, targets=("ZEBCmd",)):
    run(["cmake", "-S", source, "-B", build_dir, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
         "-DBUILD_TESTING=OFF", *extra])
    run(["cmake", "--build", build_dir] + (["--target", *targets] if targets else []))
    return f"{build_dir}/src/ZEBCmd"


def patched_tree(dest):
    """A copy of the checkout whose tool and library load the shared C++ runtime."""
    if os.path.isdir(dest):
        shutil.rmtree(dest)
    shutil.copytree(bl.REPO, dest, ignore=shutil.ignore_patterns(".git", "build", "bench"))
    path = os.path.join(dest, "CMakeLists.txt")
    with open(path) as f:
        text = f.read()
    if STATIC_RUNTIME_LINE not in text:
        return None
    with open(path, "w") as f:
        f.write(text.replace(STATIC_RUNTIME_LINE, "set(ZEBCMD_STATIC_RUNTIME)"))
    return dest


def build_all(args):
    os.makedirs(ROOT, exist_ok=True)
    programs = []  # (name, executable, library or None, note)
    for name, extra, note in VARIANTS:
        if args.only and name not in args.only and name != "base":
            continue
        d = f"{ROOT}/{name}"
        print(f"building {name} ...", file=sys.stderr)
        if "INSTALL" in extra:
            # What ships: the installed tool finds the library through its own run path.
            cmake_build(bl.REPO, d, [e for e in extra if e != "INSTALL"], ())
            shutil.rmtree(f"{d}/stage", ignore_errors=True)
            run(["cmake", "--install", d, "--prefix", f"{d}/stage"])
            programs.append((name, f"{d}/stage/bin/ZEBCmd", f"{d}/stage/lib/libZEBCli.so", note))
            continue
        targets = ("ZEBCmd", "zebserver") if name == "base" else ("ZEBCmd",)
        programs.append((name, cmake_build(bl.REPO, d, extra, targets), f"{d}/standin/libZEBCli.so",
                         note))
    if not args.only:
        tree = patched_tree(f"{ROOT}/tree-dynamic-runtime")
        if tree:
            print("building dynamic-runtime ...", file=sys.stderr)
            d = f"{ROOT}/dynamic-runtime"
            programs.append(("dynamic-runtime", cmake_build(tree, d, []),
                             f"{d}/standin/libZEBCli.so",
                             "without -static-libstdc++ -static-libgcc (patched copy)"))
        else:
            print("skipping dynamic-runtime: CMakeLists no longer has the line", file=sys.stderr)
        refs = f"{ROOT}/refs"
        os.makedirs(refs, exist_ok=True)
        for file_name, text in (("request.c", REQUEST_C), ("lib.c", LIB_C), ("stub.c", STUB_C)):
            with open(f"{refs}/{file_name}", "w") as f:
                f.write(text)
        inc = f"-I{bl.REPO}/include"
        base_lib_dir = f"{ROOT}/base/standin"
        run(["gcc", "-O2", "-static", "-o", f"{refs}/request-static", f"{refs}/request.c"])
        run(["gcc", "-O2", "-o", f"{refs}/request-dynamic", f"{refs}/request.c"])
        run(["gcc", "-O2", inc, "-o", f"{refs}/lib-c", f"{refs}/lib.c", f"-L{base_lib_dir}",
             "-lZEBCli", f"-Wl,-rpath,{base_lib_dir}"])
        os.makedirs(f"{refs}/stub", exist_ok=True)
        run(["gcc", "-O2", "-fPIC", "-shared", inc, "-Wl,-soname,libZEBCli.so", "-o",
             f"{refs}/stub/libZEBCli.so", f"{refs}/stub.c"])
        run(["gcc", "-O2", inc, "-o", f"{refs}/lib-c-stub", f"{refs}/lib.c", f"-L{refs}/stub",
             "-lZEBCli", f"-Wl,-rpath,{refs}/stub"])
        d = f"{ROOT}/stub-library"
        print("building stub-library ...", file=sys.stderr)
        programs.append(("stub-library", cmake_build(
            bl.REPO, d, ["-DZEBCMD_BUILD_STANDIN=OFF", f"-DZEBCMD_ZEBCLI_INCLUDE_DIR={bl.REPO}/include",
                         f"-DZEBCMD_ZEBCLI_IMPORT_LIBRARY={refs}/stub/libZEBCli.so"]),
            f"{refs}/stub/libZEBCli.so", "ZEBCmd on a C stub library that answers at once"))
        programs += [
            ("C request, static", f"{refs}/request-static", None,
             "same request in C, static glibc: the request's own floor"),
            ("C request, dynamic", f"{refs}/request-dynamic", None,
             "same request in C, dynamic glibc"),
            ("C via stub library", f"{refs}/lib-c-stub", f"{refs}/stub/libZEBCli.so",
             "C main calling the stub library: one more shared object, no request"),
            ("C via libZEBCli.so", f"{refs}/lib-c", f"{base_lib_dir}/libZEBCli.so",
             "C main calling the base build's library"),
        ]
    return programs


def windows_sizes():
    toolchain = f"{bl.REPO}/cmake/toolchain-mingw-i686.cmake"
    strip = shutil.which("i686-w64-mingw32-strip")
    if not (shutil.which("i686-w64-mingw32-g++-posix") and strip and os.path.isfile(toolchain)):
        print("\nWindows variants skipped: MinGW-w64 (g++-mingw-w64-i686) not installed")
        return
    rows = []
    for name, extra, note in WIN_VARIANTS:
        d = f"{ROOT}/{name.replace(' ', '_')}"
        print(f"building {name} ...", file=sys.stderr)
        cmake_build(bl.REPO, d, [f"-DCMAKE_TOOLCHAIN_FILE={toolchain}", *extra])
        row = [name]
        for file_name in ("ZEBCmd.exe", "ZEBCli.dll"):
            path = f"{d}/bin/{file_name}"
            row += [str(os.path.getsize(path)), str(stripped(path, strip))]
        rows.append(row + [note])
    print("\nWindows x86 sizes (bytes; stripped = i686-w64-mingw32-strip on a copy)\n")
    print(bl.table(["variant", "ZEBCmd.exe", "stripped", "ZEBCli.dll", "stripped", "note"],
                   rows, "lrrrrl"))


def stripped(path, strip="strip"):
    if not path:
        return 0
    with tempfile.TemporaryDirectory() as d:
        copy = os.path.join(d, "x")
        shutil.copyfile(path, copy)
        run([strip, "--strip-all", copy])
        return os.path.getsize(copy)


def dyn_relocs(path):
    if not path:
        return 0
    out = run(["readelf", "-W", "-r", path]).stdout
    n = sum(int(m) for m in re.findall(r"contains (\d+) entr", out))
    relr = run(["readelf", "-W", "-d", path]).stdout
    return f"{n}+relr" if "RELR" in relr and "(RELRSZ)" in relr else str(n)


def perf_stat(argv, env, runs=10):
    """Mean minor faults from perf stat, or None where perf cannot count them."""
    if not shutil.which("perf"):
        return None
    with tempfile.NamedTemporaryFile("r", suffix=".perf") as f:
        r = subprocess.run(["perf", "stat", "-x", ",", "-r", str(runs), "-o", f.name, "-e",
                            "minor-faults", *argv], env=env, capture_output=True,
                           timeout=60)
        if r.returncode not in (0, 1):
            return None
        values = {}
        for line in f.read().splitlines():
            parts = line.split(",")
            if len(parts) > 3 and parts[0] and parts[0][0].isdigit():
                values[parts[2]] = float(parts[0])
    return values.get("minor-faults")


def instructions(argv, env):
    if not shutil.which("valgrind"):
        return None
    with tempfile.TemporaryDirectory() as d:
        r = subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={d}/cg",
                            *argv], env=env, capture_output=True, text=True, timeout=60)
        m = re.search(r"refs:\s+([\d,]+)", r.stderr)
        return int(m.group(1).replace(",", "")) if m else None


def loader_cycles(argv, env, runs=10):
    values = []
    for _ in range(runs):
        r = subprocess.run(argv, env=dict(env, LD_DEBUG="statistics"), capture_output=True,
                           text=True, timeout=10)
        m = re.search(r"total startup time in dynamic loader: ([\d,]+)", r.stderr)
        if m:
            values.append(int(m.group(1).replace(",", "")))
    return bl.median(values) if values else None


def syscalls(argv, env):
    if not shutil.which("strace"):
        return None
    with tempfile.NamedTemporaryFile("r", suffix=".strace") as f:
        subprocess.run(["strace", "-f", "-qq", "-c", "-o", f.name, *argv], env=env,
                       capture_output=True, timeout=30)
        for line in f.read().splitlines():
            if line.rstrip().endswith("total"):
                nums = line.split()
                return int(nums[3]), int(nums[4]) if len(nums) > 5 else 0
    return None


GDB_SMAPS = r"""
import gdb, re
pid = gdb.selected_inferior().pid
rss, name = {}, None
for line in open(f"/proc/{pid}/smaps"):
    m = re.match(r"^[0-9a-f]+-[0-9a-f]+ \S+ \S+ \S+ \S+\s*(.*)$", line)
    if m:
        path = m.group(1)
        name = path.rsplit("/", 1)[-1] if path.startswith("/") else "anon, heap, stack, vdso"
    elif line.startswith("Rss:"):
        rss[name] = rss.get(name, 0) + int(line.split()[1])
for key, kib in rss.items():
    print(f"SMAPS {kib} {key}")
"""


def rss_breakdown(argv, env, workdir):
    """Resident KiB per mapped object at the moment the program exits (under gdb, which
    adds a little), or None without gdb."""
    if not shutil.which("gdb"):
        return None
    script = os.path.join(workdir, "smaps.py")
    with open(script, "w") as f:
        f.write(GDB_SMAPS)
    r = subprocess.run(["gdb", "-q", "-batch", "-ex", "catch syscall exit_group", "-ex", "run",
                        "-ex", f"source {script}", "--args", *argv], env=env,
                       capture_output=True, text=True, timeout=60)
    out = {}
    for line in r.stdout.splitlines():
        if line.startswith("SMAPS "):
            _, kib, key = line.split(" ", 2)
            key = "the program itself" if key == os.path.basename(argv[0]) else key
            out[key] = out.get(key, 0) + int(kib)
    return out or None


def paired_delta(xs, ys, resamples=1000):
    """Median of per-round differences and a bootstrap 95% interval of it, in ns."""
    d = [x - y for x, y in zip(xs, ys)]
    rng = random.Random(1)
    meds = sorted(bl.median([rng.choice(d) for _ in d]) for _ in range(resamples))
    return bl.median(d), meds[int(0.025 * resamples)], meds[int(0.975 * resamples)]


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--rounds", type=int, default=200, help="rounds per program's loop")
    ap.add_argument("--only", nargs="*", help="variants to build besides base")
    args = ap.parse_args()
    processes = bl.Processes()
    bl.install_exit_handlers(processes)
    started = time.monotonic()
    try:
        programs = build_all(args)
        with tempfile.TemporaryDirectory(prefix="zebexplore-") as workdir:
            report(args, programs, workdir, processes)
        if not args.only:
            windows_sizes()
    except bl.BenchError as e:
        print(f"explore: {e}", file=sys.stderr)
        return 1
    finally:
        processes.stop_all()
    print(f"\n(exploration took {time.monotonic() - started:.0f} s)")
    return 0


def report(args, programs, workdir, processes):
    zeb = bl.ZebServer(processes, f"{ROOT}/base/standin/zebserver", workdir)
    env = {k: v for k, v in os.environ.items() if not k.startswith("LD_")}
    env["ZEB_SERVER"] = zeb.address
    commands = [("/bin/true", ["/bin/true"], env, 0)]
    for name, exe, _lib, _note in programs:
        argv = [exe] if name.startswith("C ") else [exe, "-ping", "1", "0"]
        r = subprocess.run(argv, env=env, capture_output=True, timeout=10)
        if r.returncode != 1 or r.stderr != b"Ping command successful\n":
            raise bl.BenchError(f"{name}: status {r.returncode}, {r.stderr!r}")
        commands.append((name, argv, env, 1))
    # One loop per program: /bin/true, base and the program, so that each loop keeps the
    # same few files hot in the caches (one long loop over every build favoured the build
    # whose library a second program shared).
    floor_cmd, base_cmd = commands[0], next(c for c in commands if c[0] == "base")
    rows, loads = [], []
    for (name, argv, _env, _code), prog in zip(commands[1:], programs):
        print(f"timing {name} ...", file=sys.stderr)
        loop = [floor_cmd, base_cmd] + ([] if name == "base" else [(name, argv, env, 1)])
        times, bad, done, load = bl.alternate(loop, args.rounds)
        loads.append(load[0])
        for bad_name, codes in bad.items():
            if codes:
                raise bl.BenchError(f"{bad_name}: unexpected exit status {codes[0]}")
        t, floor = times[name], bl.median(times["/bin/true"])
        delta = ("-" if name == "base" else
                 "{:+.3f} [{:+.3f}, {:+.3f}]".format(*(v / 1e6 for v in paired_delta(
                     t, times["base"]))))
        rss = bl.peak_rss_kib(argv, env, runs=21)
        ps = perf_stat(argv, env)
        sc = syscalls(argv, env)
        cyc = loader_cycles(argv, env)
        ir = instructions(argv, env)
        exe, lib = prog[1], prog[2]
        rows.append([name, f"{bl.median(t) / 1e6:.3f}", f"{floor / 1e6:.3f}",
                     f"{bl.median(t) / floor:.2f}x", delta,
                     str(sorted(rss)[len(rss) // 2]), f"{ps:.0f}" if ps else "n/a",
                     f"{sc[0]} ({sc[1]} failed)" if sc else "n/a",
                     f"{cyc / 1000:.0f}k" if cyc else "n/a",
                     f"{ir / 1000:.0f}k" if ir else "n/a",
                     str(stripped(exe)), str(stripped(lib)) if lib else "-",
                     f"{dyn_relocs(exe)} / {dyn_relocs(lib)}" if lib else dyn_relocs(exe)])
    true_rss = bl.peak_rss_kib(floor_cmd[1], env, runs=21)
    true_ps, true_sc = perf_stat(floor_cmd[1], env), syscalls(floor_cmd[1], env)
    true_cyc, true_ir = loader_cycles(floor_cmd[1], env), instructions(floor_cmd[1], env)
    rows.append(["/bin/true", "-", "-", "1.00x", "-", str(sorted(true_rss)[10]),
                 f"{true_ps:.0f}" if true_ps else "n/a",
                 f"{true_sc[0]} ({true_sc[1]} failed)" if true_sc else "n/a",
                 f"{true_cyc / 1000:.0f}k" if true_cyc else "n/a",
                 f"{true_ir / 1000:.0f}k" if true_ir else "n/a", str(stripped("/bin/true")),
                 "-", dyn_relocs("/bin/true")])
    zeb.stop()
    print(f"\nPer program, {args.rounds} rounds (after 10 warm-up) alternating /bin/true, base and "
          "the program; every program runs `-ping 1 0` (or its C equivalent) against one "
          "zebserver. Δ = median of per-round differences to base, with a bootstrap 95% "
          "interval. RSS: median of 21 (/usr/bin/time %M); minor faults: perf stat mean of 10; "
          "ld.so cycles: LD_DEBUG=statistics, median of 10; instructions: callgrind, user "
          "space.\n")
    print(bl.table(["variant", "median ms", "/bin/true ms", "x true", "Δ vs base ms [95%]",
                    "RSS KiB", "minor faults", "syscalls", "ld.so cycles",
                    "instructions", "exe stripped", "lib stripped", "dyn relocs exe / lib"],
                   rows))
    breakdown = {}
    for name, argv, _env, _code in [floor_cmd] + commands[1:]:
        if name in ("/bin/true", "base", "stub-library", "C request, dynamic",
                    "C via libZEBCli.so"):
            breakdown[name] = rss_breakdown(argv, env, workdir)
    if all(breakdown.values()):
        names = list(breakdown)
        keys = sorted({k for b in breakdown.values() for k in b},
                      key=lambda k: -max(b.get(k, 0) for b in breakdown.values()))
        print("\nResident KiB per mapped object at exit (gdb stops each program at exit_group "
              "and reads /proc/PID/smaps; one run each, gdb adds a little):\n")
        print(bl.table(["object"] + names,
                       [[k] + [str(breakdown[n].get(k, 0)) for n in names] for k in keys] +
                       [["total"] + [str(sum(breakdown[n].values())) for n in names]]))
    print(f"\nOther processes kept {min(loads):.2f}-{max(loads):.2f} CPUs busy on average "
          "during these loops (2 CPUs in all on the reference machine).")
    print("\n" + "\n".join(f"- {p[0]}: {p[3]}" for p in programs))


if __name__ == "__main__":
    sys.exit(main())
