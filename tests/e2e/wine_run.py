#!/usr/bin/env python3
"""Runs one Windows program under a Wine loader and ends with its exit status, or with the
skip status after one line that says why, when this machine cannot execute that loader."""

import argparse
import subprocess

import runner


def main():
    found = runner.parser(["wine"])
    found.add_argument("program", nargs=argparse.REMAINDER, help="the program and its arguments")
    options = runner.parse(found)
    return subprocess.run([options.wine] + options.program, stdin=subprocess.DEVNULL).returncode


if __name__ == "__main__":
    runner.exit_with(main)
