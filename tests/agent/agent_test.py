#!/usr/bin/env python3
"""Runs remote-agent with a stand-in helper and talks to it as the page does."""
import argparse
import http.client
import json
import os
import socket
import subprocess
import sys
import tempfile
import time
import unittest

AGENT = None
HERE = os.path.dirname(os.path.abspath(__file__))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class AgentTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="dravnok-agent-")
        self.record = os.path.join(self.dir, "commands")
        self.port = free_port()
        env = dict(os.environ, FAKE_HELPER_RECORD=self.record)
        self.agent = subprocess.Popen(
            [AGENT, "--listen", f"127.0.0.1:{self.port}", "--secret", "s3cret", "--viewer-name", "Ann",
             "--ice", "stun:127.0.0.1:3478", "--helper", os.path.join(HERE, "fake_helper.py")],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env, text=True)
        self.url_line = self.agent.stdout.readline()

    def tearDown(self):
        self.agent.terminate()
        self.agent.wait(timeout=20)
        self.agent.stdout.close()
        self.agent.stderr.close()

    def request(self, method, path, body=None):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        conn.request(method, path, body=json.dumps(body) if body is not None else None)
        response = conn.getresponse()
        data = response.read()
        conn.close()
        return response.status, json.loads(data) if data.startswith(b"{") else data

    def events(self, session):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        conn.request("GET", f"/api/session/{session}/events")
        response = conn.getresponse()
        self.assertEqual(response.status, 200)
        return conn, response

    @staticmethod
    def next_event(response):
        while True:
            line = response.fp.readline().decode()
            if line.startswith("data: "):
                return json.loads(line[6:])

    def commands(self):
        with open(self.record) as f:
            return [json.loads(line) if line.startswith("{") else line.strip() for line in f]

    def test_prints_the_url_with_the_secret_and_serves_the_page(self):
        self.assertEqual(self.url_line.strip(), f"Open http://127.0.0.1:{self.port}/#secret=s3cret")
        status, page = self.request("GET", "/")
        self.assertEqual(status, 200)
        self.assertIn(b"viewer.js", page)

    def test_secret_is_required(self):
        self.assertEqual(self.request("POST", "/api/session", {"secret": "nope"})[0], 403)
        self.assertEqual(self.request("POST", "/api/session", {})[0], 403)
        self.assertEqual(self.request("POST", "/api/session", [1])[0], 400)
        self.assertFalse(os.path.exists(self.record))

    def test_signalling_is_relayed_both_ways_and_a_second_viewer_is_refused(self):
        status, reply = self.request("POST", "/api/session", {"secret": "s3cret"})
        self.assertEqual(status, 200)
        self.assertEqual(reply["iceServers"], [{"urls": "stun:127.0.0.1:3478"}])
        session = reply["session"]
        status, reply = self.request("POST", "/api/session", {"secret": "s3cret"})
        self.assertEqual(status, 409)
        self.assertIn("another viewer", reply["error"])

        conn, events = self.events(session)
        self.request("POST", f"/api/session/{session}/offer", {"sdp": "v=0"})
        self.assertEqual(self.next_event(events), {"evt": "answer", "sdp": "answer-to:v=0"})
        self.assertEqual(self.next_event(events)["evt"], "ice")
        self.request("POST", f"/api/session/{session}/ice",
                     {"candidate": {"candidate": "candidate:2", "sdpMid": "0"}})
        self.request("POST", f"/api/session/{session}/ice", {"candidate": None})
        self.request("POST", f"/api/session/{session}/stop", {})
        seen = [self.next_event(events) for _ in range(3)]
        self.assertEqual(seen[-1], {"code": 0, "evt": "exit"})
        conn.close()
        self.assertEqual(self.commands(), [
            {"cmd": "start", "iceServers": [{"urls": "stun:127.0.0.1:3478"}], "mode": "control",
             "sessionId": session, "viewerName": "Ann"},
            {"cmd": "offer", "sdp": "v=0"},
            {"cmd": "ice", "candidate": {"candidate": "candidate:2", "sdpMid": "0"}},
            {"cmd": "ice", "candidate": None},
            {"cmd": "stop"},
            "exit",
        ])
        # The slot is free again.
        self.assertEqual(self.request("POST", "/api/session", {"secret": "s3cret"})[0], 200)

    def test_the_viewer_leaving_ends_the_helper(self):
        session = self.request("POST", "/api/session", {"secret": "s3cret"})[1]["session"]
        conn, events = self.events(session)
        conn.close()  # the page went away
        for _ in range(100):
            if os.path.exists(self.record) and "exit" in self.commands():
                break
            time.sleep(0.1)
        self.assertEqual(self.commands()[-2:], [{"cmd": "stop"}, "exit"])
        self.assertEqual(self.request("POST", f"/api/session/{session}/offer", {"sdp": "x"})[0], 410)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--agent", required=True)
    args, rest = parser.parse_known_args()
    AGENT = os.path.abspath(args.agent)
    unittest.main(argv=[sys.argv[0], "-v", *rest])
