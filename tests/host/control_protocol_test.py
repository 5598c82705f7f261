#!/usr/bin/env python3
"""Drives the real remote-helper binary over pipes, as the agent does."""
import os
import re
import shutil
import subprocess
import tempfile
import unittest

import helper_program

TIMEOUT = 60


class Helper:
    """A copy of remote-helper in its own folder, so that its log file is its own."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="dravnok-helper-")
        self.exe = os.path.join(self.dir, os.path.basename(helper_program.path))
        shutil.copy2(helper_program.path, self.exe)

    def log_path(self):
        return os.path.join(self.dir, "remote-helper.log")

    def log(self):
        with open(self.log_path(), "rb") as f:
            return f.read().decode("utf-8")

    def run(self, args=(), stdin=b"", env=None):
        full_env = dict(os.environ, **(env or {}))
        return helper_program.run(*args, program=self.exe, stdin=stdin, timeout=TIMEOUT, cwd=self.dir,
                                  env=full_env)

    def close(self):
        shutil.rmtree(self.dir, ignore_errors=True)


class HelperTest(unittest.TestCase):
    def setUp(self):
        self.helper = Helper()

    def tearDown(self):
        self.helper.close()

    def session(self, text):
        result = self.helper.run(stdin=text.encode("utf-8"))
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout.decode("utf-8").splitlines()


class ControlProtocol(HelperTest):
    def test_invalid_utf8_is_replaced_in_events(self):
        result = self.helper.run(stdin=b'{"cmd":"x\xff"}\n')
        self.assertEqual(result.returncode, 0)
        # The parser rejects the line, so it is reported as non-JSON.
        self.assertEqual(result.stdout, b'{"evt":"log","level":"warn","msg":"ignoring non-JSON stdin line"}\n')

    def test_failed_start_ends_the_process_after_that_line(self):
        lines = self.session('{"cmd":"start","sessionId":"s1"}\n{"cmd":"nope"}\n')
        if not lines or "no WebRTC support" not in lines[0]:
            self.skipTest("this build has a WebRTC implementation")
        self.assertEqual(lines, ['{"evt":"log","level":"error","msg":"this build has no WebRTC support"}',
                                 '{"evt":"state","value":"failed"}'])
        log = self.helper.log()
        self.assertIn("[start] sessionId=s1 mode=view-only iceServers=0\n", log)
        self.assertIn("[state] peerConnection -> failed\n", log)

    def test_end_of_input_exits_zero_and_log_has_header_and_records(self):
        self.session('{"cmd":"offer","sdp":"v=0\\r\\ns=-\\r\\n"}\n')
        self.session('{"cmd":"stop"}\n')
        log = self.helper.log()
        stamp = r"\d\d:\d\d:\d\d\.\d{3}"
        headers = re.findall(r"\n==== session start " + stamp + " ====\n", log)
        # At least: Wine at times loses a run, which is then run again.
        self.assertGreaterEqual(len(headers), 2, log)
        self.assertRegex(log, stamp + r" \[info\] helper started \(pid running a live session\)\n")
        self.assertRegex(log, stamp + r" \[sdp\] OFFER \(from the browser\):\nv=0\r\ns=-\r\n\n")
        self.assertTrue(log.startswith("\n==== session start"))

    def test_slow_agent_lines_are_each_handled_before_the_next(self):
        proc = subprocess.Popen(helper_program.command(program=self.helper.exe), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                cwd=self.helper.dir)
        proc.stdin.write(b'{"cmd":"a"}\n')
        proc.stdin.flush()
        self.assertEqual(proc.stdout.readline(), b'{"evt":"log","level":"warn","msg":"unknown cmd: a"}\n')
        proc.stdin.write(b'{"cmd":"b"}\r\n')
        proc.stdin.flush()
        self.assertEqual(proc.stdout.readline(), b'{"evt":"log","level":"warn","msg":"unknown cmd: b"}\n')
        proc.stdin.close()
        self.assertEqual(proc.wait(timeout=TIMEOUT), 0)
        self.assertEqual(proc.stdout.read(), b"")
        proc.stdout.close()


class CommandLineModes(HelperTest):
    def test_usage_lines_and_exit_codes(self):
        for args, usage in [(["--clip-selftest"], "usage: --clip-selftest <file.png>\n"),
                            (["--clip-readtest"], "usage: --clip-readtest <out.png>\n"),
                            (["--clip-echo", "in.png"], "usage: --clip-echo <in.png> <out.png>\n"),
                            (["--clip-echo"], "usage: --clip-echo <in.png> <out.png>\n")]:
            result = self.helper.run(args)
            self.assertEqual(result.returncode, 2, args)
            self.assertEqual(result.stderr.decode(), usage)
            self.assertEqual(result.stdout, b"")

    def test_test_modes_never_write_the_log_file(self):
        self.helper.run(["--probe"])
        self.helper.run(["--clip-echo"])
        self.assertFalse(os.path.exists(self.helper.log_path()))


if __name__ == "__main__":
    helper_program.main()
