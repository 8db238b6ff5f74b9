#!/usr/bin/env python3
"""Builds a second copy of the Windows build from a copy of the sources in another folder, and
compares its programs and package byte for byte with this build's. The copy is configured
without a commit time and packaged with SOURCE_DATE_EPOCH set to this build's, as a packager
would. The package must hold exactly the named entries, at its top level, and the guide as the
document with CRLF line ends; its checksum file beside it, the line sha256sum writes.

Usage: reproducible_build.py --source SOURCE --build BUILD --file RELATIVE_PATH ...
                             --entry NAME ... --guide DOCUMENT
"""

import argparse
import filecmp
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile


def cache_value(build, name):
    with open(os.path.join(build, "CMakeCache.txt")) as cache:
        match = re.search(rf"^{name}:[A-Z]+=(.*)$", cache.read(), re.M)
    return match.group(1) if match else ""


def package(build, output, env=None):
    subprocess.run(["cpack", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", output],
                   cwd=build, check=True, stdout=subprocess.DEVNULL, env=env)
    return [os.path.join(output, name) for name in sorted(os.listdir(output))
            if name.endswith(".zip")]


def package_faults(path, options):
    with zipfile.ZipFile(path) as package:
        names = sorted(package.namelist())
        guide = package.read("WINDOWS.txt") if "WINDOWS.txt" in names else None
    faults = []
    if names != sorted(options.entry):
        faults.append(f"{os.path.basename(path)} holds {names}, expected {sorted(options.entry)}")
    with open(options.guide, "rb") as document:
        expected = document.read().replace(b"\n", b"\r\n")
    if guide is not None and guide != expected:
        faults.append(f"WINDOWS.txt in {os.path.basename(path)} is not {options.guide} with CRLF")
    with open(path, "rb") as zipped, open(path + ".sha256", "rb") as checksum:
        line = f"{hashlib.sha256(zipped.read()).hexdigest()}  {os.path.basename(path)}\n"
        if checksum.read() != line.encode():
            faults.append(f"{os.path.basename(path)}.sha256 is not {line!r}")
    return faults


def main():
    parser = argparse.ArgumentParser()
    for name in ("--source", "--build", "--guide"):
        parser.add_argument(name, required=True)
    for name in ("--file", "--entry"):
        parser.add_argument(name, action="append", required=True)
    options = parser.parse_args()
    build = os.path.abspath(options.build)
    with open(os.path.join(build, "CPackConfig.cmake")) as config:
        epoch = re.search(r'CPACK_ZEBCMD_SOURCE_DATE_EPOCH "(\d+)"', config.read()).group(1)
    toolchain = os.path.basename(cache_value(build, "CMAKE_TOOLCHAIN_FILE"))

    with tempfile.TemporaryDirectory(prefix="zebcmd-reproducible-") as scratch:
        source = os.path.join(scratch, "sources")
        shutil.copytree(options.source, source,
                        ignore=shutil.ignore_patterns(".git", "build", "build-*"))
        second = os.path.join(scratch, "build")
        env = {name: value for name, value in os.environ.items() if name != "SOURCE_DATE_EPOCH"}
        subprocess.run(["cmake", "-S", source, "-B", second, "-G", "Ninja",
                        f"-DCMAKE_TOOLCHAIN_FILE={source}/cmake/{toolchain}",
                        f"-DCMAKE_BUILD_TYPE={cache_value(build, 'CMAKE_BUILD_TYPE')}",
                        "-DBUILD_TESTING=OFF"], env=env, check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", second], check=True, stdout=subprocess.DEVNULL)

        pairs = [(os.path.join(build, name), os.path.join(second, name)) for name in options.file]
        ours = package(build, os.path.join(scratch, "ours"))
        theirs = package(second, os.path.join(scratch, "theirs"),
                         dict(env, SOURCE_DATE_EPOCH=epoch))
        if [os.path.basename(p) for p in ours] != [os.path.basename(p) for p in theirs]:
            print(f"packages {ours} and {theirs} differ in name")
            return 1
        pairs += list(zip(ours, theirs))
        differ = [first for first, other in pairs if not filecmp.cmp(first, other, shallow=False)]
        faults = [fault for path in ours for fault in package_faults(path, options)]
    faults += [f"differs between two builds: {path}" for path in differ]
    print("\n".join(faults) or f"identical: {', '.join(os.path.basename(a) for a, _ in pairs)}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
