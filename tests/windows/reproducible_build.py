#!/usr/bin/env python3
"""Builds a second copy of the Windows build from a copy of the sources in another folder, and
compares its programs and package byte for byte with this build's.

Usage: reproducible_build.py --source SOURCE --build BUILD --file RELATIVE_PATH ...
"""

import argparse
import filecmp
import os
import re
import shutil
import subprocess
import sys
import tempfile


def cache_value(build, name):
    with open(os.path.join(build, "CMakeCache.txt")) as cache:
        match = re.search(rf"^{name}:[A-Z]+=(.*)$", cache.read(), re.M)
    return match.group(1) if match else ""


def package(build, config, output):
    subprocess.run(["cpack", "--config", config, "-B", output], cwd=build, check=True,
                   stdout=subprocess.DEVNULL)
    return [os.path.join(output, name) for name in sorted(os.listdir(output))
            if name.endswith(".zip")]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--file", action="append", required=True)
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
        env = dict(os.environ, SOURCE_DATE_EPOCH=epoch)
        subprocess.run(["cmake", "-S", source, "-B", second, "-G", "Ninja",
                        f"-DCMAKE_TOOLCHAIN_FILE={source}/cmake/{toolchain}",
                        f"-DCMAKE_BUILD_TYPE={cache_value(build, 'CMAKE_BUILD_TYPE')}",
                        "-DBUILD_TESTING=OFF"], env=env, check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", second], check=True, stdout=subprocess.DEVNULL)

        pairs = [(os.path.join(build, name), os.path.join(second, name)) for name in options.file]
        ours = package(build, os.path.join(build, "CPackConfig.cmake"),
                       os.path.join(scratch, "ours"))
        theirs = package(second, os.path.join(second, "CPackConfig.cmake"),
                         os.path.join(scratch, "theirs"))
        if [os.path.basename(p) for p in ours] != [os.path.basename(p) for p in theirs]:
            print(f"packages {ours} and {theirs} differ in name")
            return 1
        pairs += list(zip(ours, theirs))
        differ = [first for first, other in pairs if not filecmp.cmp(first, other, shallow=False)]
    for path in differ:
        print(f"differs between two builds: {os.path.relpath(path, scratch) if path.startswith(scratch) else path}")
    if not differ:
        print(f"identical in both builds: {', '.join(os.path.basename(a) for a, _ in pairs)}")
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main())
