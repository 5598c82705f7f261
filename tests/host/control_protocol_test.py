#!/usr/bin/env python3
"""Runs the real remote-helper binary as the agent does and in its test modes: sessions append
to the log file beside the program, test modes never write it."""
import os
import re
import unittest

import helper_program

STAMP = r"\d\d:\d\d:\d\d\.\d{3}"


class ControlProtocol(unittest.TestCase):
    def test_sessions_append_to_the_log_beside_the_program_and_test_modes_never_write_it(self):
        folder, exe = helper_program.folder(self, copy=True)  # a copy, so that the log file is the test's own
        log_path = os.path.join(folder, "remote-helper.log")

        def run(*args, stdin=b""):
            return helper_program.run(*args, program=exe, stdin=stdin, timeout=60, cwd=folder)

        for args in (["--clip-selftest"], ["--clip-readtest"], ["--clip-echo", "in.png"], ["--clip-echo"]):
            result = run(*args)
            self.assertEqual((result.returncode, result.stderr.decode()[:9 + len(args[0])], result.stdout),
                             (2, "usage: " + args[0] + " <", b""), args)
        run("--probe")
        self.assertFalse(os.path.exists(log_path))
        for _ in range(2):
            self.assertEqual(run(stdin=b'{"cmd":"stop"}\n').returncode, 0)
        with open(log_path, "rb") as f:
            log = f.read().decode()
        # At least: Wine at times loses a run, which is then run again.
        self.assertGreaterEqual(len(re.findall(r"\n==== session start " + STAMP + " ====\n", log)), 2, log)
        self.assertRegex(log, r"^\n==== session start " + STAMP + " ====\n" + STAMP +
                         r" \[info\] helper started \(pid running a live session\)\n")


if __name__ == "__main__":
    helper_program.main()
