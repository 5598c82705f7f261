#!/usr/bin/env python3
"""Runs the real remote-helper as the agent does, starting and ending its session in every way the
agent can: with and without an offer, by stop or by end of input, at once or after the workers have
run a while. Every run must end with code 0, quickly, and with nothing from a sanitizer on standard
error (the sanitizer stage runs this against its own remote-helper). Sessions append to the log file
beside the program; its test modes never write it."""
import json
import os
import re
import subprocess
import tempfile
import time
import unittest

import helper_program

SHUTDOWN_LIMIT = 10.0  # seconds; sanitizer builds are slow
STAMP = r"\d\d:\d\d:\d\d\.\d{3}"


def section(m_line, mid, *lines):
    """A section with a browser's made-up ICE credentials and fingerprint."""
    return [m_line, "c=IN IP4 0.0.0.0", "a=ice-ufrag:Th1s", "a=ice-pwd:Th1sIsAFakePasswordOf24c",
            "a=ice-options:trickle", "a=fingerprint:sha-256 " + ":".join(["AB"] * 32), "a=setup:actpass",
            "a=mid:" + mid, *lines]


# An offer as a browser makes it: receive-only H.264 video and data channels.
OFFER = {"cmd": "offer", "sdp": "\r\n".join([
    "v=0", "o=- 4611731400430051336 2 IN IP4 127.0.0.1", "s=-", "t=0 0", "a=group:BUNDLE 0 1",
    *section("m=video 9 UDP/TLS/RTP/SAVPF 102", "0", "a=recvonly", "a=rtcp-mux", "a=rtpmap:102 H264/90000",
             "a=rtcp-fb:102 nack", "a=rtcp-fb:102 nack pli",
             "a=fmtp:102 level-asymmetry-allowed=1;packetization-mode=1;profile-level-id=42e01f"),
    *section("m=application 9 UDP/DTLS/SCTP webrtc-datachannel", "1", "a=sctp-port:5000",
             "a=max-message-size:262144"), ""])}
START = {"cmd": "start", "sessionId": "threads", "mode": "control", "viewerName": "T"}
CANDIDATE = {"cmd": "ice", "candidate": {"candidate": "candidate:1 1 udp 2122260223 127.0.0.1 9 typ host",
                                         "sdpMid": "0"}}


class SessionThreadsTest(unittest.TestCase):
    def setUp(self):
        self.folder, self.exe = helper_program.folder(self, copy=True)  # its log file lands there

    def run_helper(self, commands, how, linger):
        """Sends the commands, waits, ends the session by "stop" or "eof"; returns the events."""
        with tempfile.TemporaryFile() as err:
            process = subprocess.Popen(helper_program.command(program=self.exe), stdin=subprocess.PIPE,
                                       stdout=subprocess.PIPE, stderr=err, cwd=self.folder)
            for command in commands:
                process.stdin.write((json.dumps(command) + "\n").encode())
                process.stdin.flush()
            time.sleep(linger)  # the workers run a while
            started = time.monotonic()
            if how == "stop":
                process.stdin.write(b'{"cmd":"stop"}\n')
            try:  # flushes and closes standard input
                out, _ = process.communicate(timeout=SHUTDOWN_LIMIT * 3)
            except subprocess.TimeoutExpired:
                process.kill()
                out, _ = process.communicate()
            seconds = time.monotonic() - started
            err.seek(0)
            stderr = err.read().decode("utf-8", "replace")
        for marker in ("ThreadSanitizer", "AddressSanitizer", "LeakSanitizer", "runtime error:"):
            self.assertNotIn(marker, stderr, stderr[-6000:])
        self.assertEqual(process.returncode, 0, stderr[-3000:])
        self.assertLess(seconds, SHUTDOWN_LIMIT)
        return [json.loads(line) for line in out.decode("utf-8", "replace").splitlines() if line.startswith("{")]

    def test_start_stop_offer_and_end_of_input_at_once_and_with_the_workers_running(self):
        # Test modes refuse missing arguments and never write the log.
        for args in (["--clip-selftest"], ["--clip-readtest"], ["--clip-echo", "in.png"], ["--clip-echo"]):
            result = helper_program.run(*args, program=self.exe, stdin=b"", cwd=self.folder)
            self.assertEqual((result.returncode, result.stderr.decode()[:9 + len(args[0])], result.stdout),
                             (2, "usage: " + args[0] + " <", b""), args)
        helper_program.run("--probe", program=self.exe, cwd=self.folder)
        log_path = os.path.join(self.folder, "remote-helper.log")
        self.assertFalse(os.path.exists(log_path))

        self.run_helper([START], "stop", 0)
        events = self.run_helper([START], "eof", 2.0)
        self.assertFalse([e for e in events if e.get("level") == "error"], events)
        # Offer answered, then stop while ICE checks.
        events = self.run_helper([START, OFFER, CANDIDATE], "stop", 2.5)
        self.assertTrue(any(e.get("evt") == "answer" for e in events), events)
        self.assertIn({"evt": "state", "value": "closed"}, events)
        # An offer before start, and a second start.
        events = self.run_helper([OFFER, START, START, OFFER, OFFER], "eof", 1.5)
        self.assertEqual(sum(1 for e in events if e.get("msg", "").startswith("capture ")), 1, events)
        self.assertEqual(sum(1 for e in events if e.get("evt") == "answer"), 2, events)

        # Each session appended its own header to the log beside the program.
        with open(log_path, "rb") as f:
            log = f.read().decode()
        self.assertEqual(len(re.findall(r"\n==== session start " + STAMP + " ====\n", log)), 4, log)
        self.assertRegex(log, r"^\n==== session start " + STAMP + " ====\n" + STAMP +
                         r" \[info\] helper started \(pid running a live session\)\n")


if __name__ == "__main__":
    helper_program.main()
