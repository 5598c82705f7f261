#!/usr/bin/env python3
"""Starts and stops the real remote-helper's session in the ways the agent
can: with and without an offer, by stop or by end of input, at once or after
the workers have run a while. Every run must end with code 0, quickly, and
with nothing from a sanitizer on standard error (the sanitizer build of the
test stage runs this against its own remote-helper)."""
import json
import os
import shutil
import subprocess
import tempfile
import time
import unittest

import helper_program

SHUTDOWN_LIMIT = 10.0  # seconds; sanitizer builds are slow

# An offer as a browser makes it: a receive-only H.264 video section and
# the data channels' section, with made-up ICE credentials and fingerprint.
OFFER = "\r\n".join([
    "v=0",
    "o=- 4611731400430051336 2 IN IP4 127.0.0.1",
    "s=-",
    "t=0 0",
    "a=group:BUNDLE 0 1",
    "a=msid-semantic: WMS",
    "m=video 9 UDP/TLS/RTP/SAVPF 102",
    "c=IN IP4 0.0.0.0",
    "a=rtcp:9 IN IP4 0.0.0.0",
    "a=ice-ufrag:Th1s",
    "a=ice-pwd:Th1sIsAFakePasswordOf24c",
    "a=ice-options:trickle",
    "a=fingerprint:sha-256 " + ":".join(["AB"] * 32),
    "a=setup:actpass",
    "a=mid:0",
    "a=recvonly",
    "a=rtcp-mux",
    "a=rtpmap:102 H264/90000",
    "a=rtcp-fb:102 nack",
    "a=rtcp-fb:102 nack pli",
    "a=fmtp:102 level-asymmetry-allowed=1;packetization-mode=1;profile-level-id=42e01f",
    "m=application 9 UDP/DTLS/SCTP webrtc-datachannel",
    "c=IN IP4 0.0.0.0",
    "a=ice-ufrag:Th1s",
    "a=ice-pwd:Th1sIsAFakePasswordOf24c",
    "a=ice-options:trickle",
    "a=fingerprint:sha-256 " + ":".join(["AB"] * 32),
    "a=setup:actpass",
    "a=mid:1",
    "a=sctp-port:5000",
    "a=max-message-size:262144",
    "",
])
START = {"cmd": "start", "sessionId": "threads", "mode": "control", "viewerName": "T"}
CANDIDATE = {"cmd": "ice", "candidate": {"candidate": "candidate:1 1 udp 2122260223 127.0.0.1 9 typ host",
                                         "sdpMid": "0"}}


class HelperRun:
    """One remote-helper in a folder of its own (its log file lands there)."""

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="dravnok-threads-")
        exe = os.path.join(self.dir, os.path.basename(helper_program.path))
        shutil.copy2(helper_program.path, exe)
        self.stderr_path = os.path.join(self.dir, "stderr")
        self.stderr = open(self.stderr_path, "wb")
        self.process = subprocess.Popen(helper_program.command(program=exe), stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.stderr,
                                        cwd=self.dir)

    def send(self, command):
        self.process.stdin.write((json.dumps(command) + "\n").encode())
        self.process.stdin.flush()

    def finish(self, how):
        """Ends the session by "stop" or "eof"; returns (code, seconds, events, stderr)."""
        started = time.monotonic()
        if how == "stop":
            self.send({"cmd": "stop"})
        try:  # closes standard input once what was sent is written
            out, _ = self.process.communicate(timeout=SHUTDOWN_LIMIT * 3)
        except subprocess.TimeoutExpired:
            self.process.kill()
            out, _ = self.process.communicate()
        seconds = time.monotonic() - started
        self.stderr.close()
        with open(self.stderr_path, "rb") as f:
            err = f.read().decode("utf-8", "replace")
        events = [json.loads(line) for line in out.decode("utf-8", "replace").splitlines() if line.startswith("{")]
        shutil.rmtree(self.dir, ignore_errors=True)
        return self.process.returncode, seconds, events, err


class SessionThreadsTest(unittest.TestCase):
    def check(self, steps, how, linger=0.0):
        run = HelperRun()
        for step in steps:
            run.send(step)
        time.sleep(linger)
        code, seconds, events, err = run.finish(how)
        for marker in ("ThreadSanitizer", "AddressSanitizer", "LeakSanitizer", "runtime error:"):
            self.assertNotIn(marker, err, err[-6000:])
        self.assertEqual(code, 0, err[-3000:])
        self.assertLess(seconds, SHUTDOWN_LIMIT)
        return events

    def test_stop_at_once_after_start(self):
        self.check([START], "stop")

    def test_end_of_input_with_the_workers_running(self):
        events = self.check([START], "eof", linger=2.0)
        self.assertFalse([e for e in events if e.get("level") == "error"], events)

    def test_offer_answered_then_stop_while_ice_checks(self):
        events = self.check([START, {"cmd": "offer", "sdp": OFFER}, CANDIDATE], "stop", linger=2.5)
        self.assertTrue(any(e.get("evt") == "answer" for e in events), events)
        self.assertIn({"evt": "state", "value": "closed"}, events)

    def test_second_start_and_offer_before_start(self):
        events = self.check([{"cmd": "offer", "sdp": OFFER}, START, START, {"cmd": "offer", "sdp": OFFER},
                             {"cmd": "offer", "sdp": OFFER}], "eof", linger=1.5)
        self.assertEqual(sum(1 for e in events if e.get("msg", "").startswith("capture ")), 1, events)
        self.assertEqual(sum(1 for e in events if e.get("evt") == "answer"), 2, events)


if __name__ == "__main__":
    helper_program.main()
