#!/usr/bin/env python3
"""The end-to-end runner itself: a case whose run hangs fails by name, the table goes on to
the next case and to its summary, and no scratch folder is left behind; the native runner does
without the Wine module; under Wine, only a process start that Wine itself failed is run once
more."""

import contextlib
import io
import os
import subprocess
import sys
import tempfile
import unittest
import unittest.mock

import e2e
import runner
from cases import Case, Step
from runner import wine

# Hangs on -stop; answers anything else as the tool answers an unknown word.
FAKE_TOOL = """#!/bin/sh
[ "$1" = -stop ] && exec sleep 60
printf 'Unknown command\\n' >&2
"""


class FailingCases(unittest.TestCase):
    def test_hang_fails_by_name_and_the_table_goes_on(self):
        with tempfile.TemporaryDirectory() as scratch:
            tool = os.path.join(scratch, "tool")
            with open(tool, "w") as script:
                script.write(FAKE_TOOL)
            os.chmod(tool, 0o755)
            cases = [Case("hangs", [Step(["-stop"], [])], server=None),
                     Case("answers", [Step(["-x"], [b"Unknown command\n"])], server=None)]
            argv = ["e2e.py", "--server", "unused", "--tool", tool, "--run-timeout", "1"]
            output = io.StringIO()
            with unittest.mock.patch.object(sys, "argv", argv), \
                    unittest.mock.patch.object(tempfile, "tempdir", scratch), \
                    contextlib.redirect_stdout(output):
                status = e2e.main(cases)
            left = [name for name in os.listdir(scratch) if name.startswith("zebcmd-e2e-")]
        self.assertEqual(output.getvalue().splitlines(),
                         ["FAIL hangs", "    step 1: still running after 1.0 s", "ok   answers",
                          "1 passed, 1 failed"])
        self.assertEqual(status, 1)
        self.assertEqual(left, [])

    def test_harness_failure_fails_its_case_and_the_table_goes_on(self):
        def check(case):
            if case == "crashes":
                raise runner.HarnessFailed("debug_harness failed with 2")
            return []

        output = io.StringIO()
        with contextlib.redirect_stdout(output):
            status = runner.report_table(["crashes", "answers"], check, lambda case: case)
        self.assertEqual(output.getvalue().splitlines(),
                         ["FAIL crashes", "    debug_harness failed with 2", "ok   answers",
                          "1 passed, 1 failed"])
        self.assertEqual(status, 1)

    def test_native_runner_does_without_the_wine_module(self):
        # In a process of its own: this one has loaded the Wine module for the tests below.
        script = ("import sys, e2e; sys.argv[1:] = ['--server', 'unused', '--tool', 'unused']; "
                  "e2e.main([]); print('runner.wine' in sys.modules)")
        ran = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                             cwd=os.path.dirname(os.path.abspath(__file__)), check=True)
        self.assertEqual(ran.stdout.splitlines()[-1], "False")


def harness_result(status, report=b"", stderr=b""):
    return subprocess.CompletedProcess([], status, report, stderr)


def companion_report(stderr, status):
    return b"stderr %s\nexit %d\n" % (stderr.hex().encode(), status)


WINE_FAILED = b"ZEBCmdCon: cannot start Z:\\bin\\ZEBCmd.exe (error 1359: Internal error)\n"
NOT_FOUND = b"ZEBCmdCon: cannot start Z:\\bin\\ZEBCmd.exe (error 2: File not found)\n"
HARNESS_FAILED = b"debug_harness: cannot start the program (error 1359)\n"
SUCCESS = harness_result(0, b"message 6f6b\nexit 0\n")


class WineStartRetry(unittest.TestCase):
    CASES = [
        # name, harness results in order, expected runs, expected outcome
        ("companion start failed once", [harness_result(0, companion_report(WINE_FAILED, 1)),
                                         SUCCESS], 2, ([b"ok"], b"", 0)),
        ("harness start failed once", [harness_result(2, stderr=HARNESS_FAILED), SUCCESS], 2,
         ([b"ok"], b"", 0)),
        ("harness start failed twice", [harness_result(2, stderr=HARNESS_FAILED)] * 2, 2,
         runner.HarnessFailed),
        ("companion start failed twice", [harness_result(0, companion_report(WINE_FAILED, 1))] * 2,
         2, ([("standard error", WINE_FAILED)], b"", 1)),
        ("program not found", [harness_result(0, companion_report(NOT_FOUND, 1))], 1,
         ([("standard error", NOT_FOUND)], b"", 1)),
    ]

    def test_only_a_failed_wine_start_is_run_again(self):
        for name, results, runs, expected in self.CASES:
            with self.subTest(name):
                target = wine.WineTarget.__new__(wine.WineTarget)
                target.loader, target.harness, target.program = "wine", "harness", "Z:\\tool"
                target.timeout = 1
                pending = list(results)
                target.run_harness = lambda *_: pending.pop(0)
                with contextlib.redirect_stdout(io.StringIO()):
                    if expected is runner.HarnessFailed:
                        self.assertRaises(expected, target.run_tail, "-stop", None)
                    else:
                        self.assertEqual(target.run_tail("-stop", None), expected)
                self.assertEqual(len(results) - len(pending), runs)


if __name__ == "__main__":
    unittest.main()
