#!/usr/bin/env python3
"""The end-to-end runner itself: a case whose run hangs fails by name, the table goes on to
the next case and to its summary, and no scratch folder is left behind."""

import contextlib
import io
import os
import sys
import tempfile
import unittest
import unittest.mock

import e2e
from cases import Case, Step

# Hangs on -stop; answers anything else as the tool answers an unknown word.
FAKE_TOOL = """#!/bin/sh
[ "$1" = -stop ] && exec sleep 60
printf 'Unknown command\\n' >&2
"""


class HangingCase(unittest.TestCase):
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
            saved_tempdir, tempfile.tempdir = tempfile.tempdir, scratch
            try:
                with unittest.mock.patch.object(sys, "argv", argv), \
                        contextlib.redirect_stdout(output):
                    status = e2e.main(cases)
            finally:
                tempfile.tempdir = saved_tempdir
            left = [name for name in os.listdir(scratch) if name.startswith("zebcmd-e2e-")]
        self.assertEqual(output.getvalue().splitlines(),
                         ["FAIL hangs", "    step 1: still running after 1.0 s", "ok   answers",
                          "1 passed, 1 failed"])
        self.assertEqual(status, 1)
        self.assertEqual(left, [])


if __name__ == "__main__":
    unittest.main()
