#!/usr/bin/env python3
"""Drives the real remote-helper binary over pipes, as the agent does."""
import os
import re
import subprocess
import unittest

import helper_program

TIMEOUT = 60
STAMP = r"\d\d:\d\d:\d\d\.\d{3}"


class ControlProtocol(unittest.TestCase):
    """Each test runs a copy of remote-helper in its own folder, so that its log file is its own."""

    def setUp(self):
        self.dir, self.exe = helper_program.folder(self, copy=True)
        self.log_path = os.path.join(self.dir, "remote-helper.log")

    def run_helper(self, *args, stdin=b""):
        return helper_program.run(*args, program=self.exe, stdin=stdin, timeout=TIMEOUT, cwd=self.dir)

    def test_each_line_is_answered_before_the_next_and_each_run_appends_to_the_log_beside_the_program(self):
        proc = subprocess.Popen(helper_program.command(program=self.exe), stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, cwd=self.dir)
        # Invalid UTF-8 makes the line unreadable; CRLF ends a line too.
        for line, reply in [(b'{"cmd":"x\xff"}\n', b'{"evt":"log","level":"warn","msg":"ignoring non-JSON stdin line"}\n'),
                            (b'{"cmd":"a"}\n', b'{"evt":"log","level":"warn","msg":"unknown cmd: a"}\n'),
                            (b'{"cmd":"b"}\r\n', b'{"evt":"log","level":"warn","msg":"unknown cmd: b"}\n')]:
            proc.stdin.write(line)
            proc.stdin.flush()
            self.assertEqual(proc.stdout.readline(), reply)
        proc.stdin.close()
        self.assertEqual(proc.wait(timeout=TIMEOUT), 0)
        self.assertEqual(proc.stdout.read(), b"")
        proc.stdout.close()
        self.assertEqual(self.run_helper(stdin=b'{"cmd":"stop"}\n').returncode, 0)
        with open(self.log_path, "rb") as f:
            log = f.read().decode()
        # At least: Wine at times loses a run, which is then run again.
        self.assertGreaterEqual(len(re.findall(r"\n==== session start " + STAMP + " ====\n", log)), 2, log)
        self.assertRegex(log, r"^\n==== session start " + STAMP + " ====\n" + STAMP +
                         r" \[info\] helper started \(pid running a live session\)\n")

    def test_test_modes_print_usage_and_never_write_the_log_file(self):
        for args in (["--clip-selftest"], ["--clip-readtest"], ["--clip-echo", "in.png"], ["--clip-echo"]):
            result = self.run_helper(*args)
            self.assertEqual((result.returncode, result.stderr.decode()[:9 + len(args[0])], result.stdout),
                             (2, "usage: " + args[0] + " <", b""), args)
        self.run_helper("--probe")
        self.assertFalse(os.path.exists(self.log_path))


if __name__ == "__main__":
    helper_program.main()
