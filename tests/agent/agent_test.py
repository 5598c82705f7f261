#!/usr/bin/env python3
"""Runs remote-agent with a stand-in helper; talks to it as the page does and as hostile clients do."""
import hashlib
import http.client
import json
import os
import socket
import ssl
import subprocess
import tempfile
import threading
import time
import unittest

import helper_program as program

SECRET = "s3cret-s3cret-s3cret"
# A TURN server's username and credential follow its address; the credential keeps its commas.
ICE = [{"urls": "stun:127.0.0.1:3478"}, {"urls": "turn:h:3478?transport=udp", "username": "ann", "credential": "p,w"}]


def read_status(sock):
    """The status of the reply on a raw socket, or None when none came."""
    try:
        data = sock.recv(4096)
    except OSError:
        return None
    return int(data.split()[1]) if data.startswith(b"HTTP/") else None


class AgentTest(unittest.TestCase):
    # Agent options ({port}: the agent's) and the stand-in helper's environment, by test.
    OPTIONS = {"test_foreign_site": ["--allow-host", "desk.example"], "test_never_opened": ["--open-timeout", "2"],
               "test_tls_off_loopback": ["--listen", "0.0.0.0:{port}"]}
    ENV = {"test_helper_ignores_stop": {"FAKE_HELPER_IGNORE_STOP": "1"}}

    def setUp(self):
        args, env = self.OPTIONS.get(self._testMethodName, []), self.ENV.get(self._testMethodName, {})
        self.dir = self.enterContext(tempfile.TemporaryDirectory(prefix="dravnok-agent-"))
        self.record = os.path.join(self.dir, "commands")
        self.port = program.free_port()
        self.agent = program.start_agent(
            self.record, "--listen", f"127.0.0.1:{self.port}", "--secret", SECRET, "--ice", "stun:127.0.0.1:3478",
            "--ice", "turn:h:3478?transport=udp,ann,p,w", *(arg.format(port=self.port) for arg in args),
            stderr=subprocess.DEVNULL, env=env)
        self.url_line = self.agent.stdout.readline()

    def tearDown(self):
        self.agent.terminate()
        self.agent.wait(timeout=20)
        self.agent.stdout.close()

    def request(self, method, path, body=None, headers=None, timeout=10):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        conn.request(method, path, body=json.dumps(body) if isinstance(body, (dict, list)) else body,
                     headers={"Content-Type": "application/json", **(headers or {})})
        response = conn.getresponse()
        data = response.read()
        conn.close()
        self.last_headers = response.headers
        return response.status, json.loads(data) if data.startswith(b"{") else data

    def raw_head(self, lines):
        """The status answering a session request's head sent alone, without its body."""
        with socket.create_connection(("127.0.0.1", self.port), timeout=5) as s:
            s.sendall(f"POST /api/session HTTP/1.1\r\nHost: 127.0.0.1:{self.port}\r\n{lines}\r\n\r\n".encode())
            return read_status(s)

    def start_session(self):
        status, reply = self.request("POST", "/api/session", {"secret": SECRET})
        self.assertEqual(status, 200, reply)
        return reply["session"]

    def events(self, session, expect=200):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        conn.request("GET", f"/api/session/{session}/events")
        response = conn.getresponse()
        self.assertEqual(response.status, expect)
        return conn, response

    @staticmethod
    def next_event(response):
        for line in response.fp:  # the connection's time-out ends a wait for nothing
            if line.startswith(b"data: "):
                return json.loads(line[6:])
        raise AssertionError("the event stream ended")

    def commands(self):
        return program.recorded(self.record)

    def test_page_secret_signalling_both_ways_and_a_second_viewer_refused(self):
        self.assertEqual(self.url_line.strip(), f"Open http://127.0.0.1:{self.port}/#secret={SECRET}")
        # The page comes from inside the program, which lies alone in its folder.
        status, page = self.request("GET", "/")
        self.assertEqual((status, self.last_headers["Content-Type"]), (200, "text/html; charset=utf-8"))
        self.assertIn(b'<script type="module" src="viewer.js">', page)
        self.assertEqual(self.request("GET", "/viewer.js")[0], 200)
        self.assertEqual(self.last_headers["Content-Type"], "text/javascript; charset=utf-8")
        for body, status in (({"secret": "nope"}, 403), ({}, 403), ([1], 400)):
            self.assertEqual(self.request("POST", "/api/session", body)[0], status, body)
        self.assertFalse(os.path.exists(self.record))
        status, reply = self.request("POST", "/api/session", {"secret": SECRET})
        self.assertEqual(reply["iceServers"], ICE)
        session = reply["session"]
        status, reply = self.request("POST", "/api/session", {"secret": SECRET})
        self.assertEqual((status, "another viewer" in reply["error"]), (409, True))
        conn, events = self.events(session)
        self.events(session, expect=409)  # the first stream keeps getting every event
        self.request("POST", f"/api/session/{session}/offer", {"sdp": "v=0"})
        self.assertEqual(self.next_event(events), {"evt": "answer", "sdp": "answer-to:v=0"})
        self.assertEqual(self.next_event(events)["evt"], "ice")
        candidate = {"candidate": "candidate:2", "sdpMid": "0", "sdpMLineIndex": 0}
        self.request("POST", f"/api/session/{session}/ice", {"candidate": candidate})
        self.request("POST", f"/api/session/{session}/ice", {"candidate": None})
        self.request("POST", f"/api/session/{session}/stop", {})
        self.assertEqual(self.next_event(events), {"code": 0, "evt": "exit"})
        conn.close()
        self.assertEqual(self.commands(), [
            {"cmd": "start", "iceServers": ICE, "mode": "control", "sessionId": session, "viewerName": "Ann"},
            {"cmd": "offer", "sdp": "v=0"}, {"cmd": "ice", "candidate": candidate}, {"cmd": "ice", "candidate": None},
            {"cmd": "stop"}, "exit"])
        # The slot is free again; the viewer leaving ends its helper.
        session = self.start_session()
        self.events(session)[0].close()
        program.wait_for(self, lambda: self.commands().count("exit") == 2, "the helper outlived its viewer", 10)
        self.assertEqual(self.commands()[-2:], [{"cmd": "stop"}, "exit"])
        self.assertEqual(self.request("POST", f"/api/session/{session}/offer", {"sdp": "x"})[0], 410)

    def test_foreign_site(self):
        # A page of another site whose name was rebound to this address, or one
        # that posts across sites.
        def post(**headers):
            return self.request("POST", "/api/session", {"secret": SECRET}, headers)[0]

        port = self.port
        for host in (f"attacker.example:{port}", f"127.0.0.1:{port + 1}", f"localhost:{port}@attacker.example"):
            self.assertEqual((post(Host=host), self.request("GET", "/", headers={"Host": host})[0]), (403, 403), host)
        for origin in ("http://attacker.example", "null", f"http://127.0.0.1:{port + 1}", f"https://127.0.0.1:{port}",
                       f"http://localhost:{port}"):
            self.assertEqual(post(Origin=origin), 403, origin)
        self.assertFalse(os.path.exists(self.record))
        for host in (f"localhost:{port}", f"desk.example:{port}"):
            self.assertEqual(self.request("GET", "/", headers={"Host": host})[0], 200, host)
        self.assertEqual(post(Origin=f"http://127.0.0.1:{port}"), 200)

    def test_refused_heads(self):
        # Answered once the head is in, before any of the body is read. A
        # text/plain post needs no preflight: other sites can send one.
        for lines, status in (("Content-Type: application/json\r\nContent-Length: 268435456", 413),
                              ("Content-Type: application/json\r\nTransfer-Encoding: chunked", 411),
                              ("Content-Type: application/json\r\nContent-Length: 9x", 400),
                              ("Content-Type: application/json", 411),
                              ("Content-Type: text/plain\r\nContent-Length: 9", 415),
                              ("Content-Type: application/jsonp\r\nContent-Length: 9", 415)):
            self.assertEqual(self.raw_head(lines), status, lines)
        self.assertFalse(os.path.exists(self.record))
        self.assertEqual(self.request("GET", "/")[0], 200)

    def test_nested_body(self):
        session = self.start_session()
        conn, events = self.events(session)
        # Within the size limit, far over it, and shallow but of the wrong shape.
        for body in ['{"candidate":' + "[" * d + "]" * d + "}" for d in (20000, 1000000)] + [
                '{"candidate":[[["x"]]]}', '{"candidate":{"candidate":{"a":1}}}', '{"sdp":{"a":1}}']:
            path = "offer" if body.startswith('{"sdp"') else "ice"
            self.assertIn(self.request("POST", f"/api/session/{session}/{path}", body)[0], (400, 413), body[:40])
        self.request("POST", f"/api/session/{session}/offer", {"sdp": "v=0"})
        self.assertEqual(self.next_event(events)["evt"], "answer")  # the session still works
        self.assertEqual([c["cmd"] for c in self.commands()], ["start", "offer"])

    def test_slow_clients(self):
        # More clients than the agent has workers, each sending a byte every
        # two seconds of a request that never ends.
        clients = [socket.create_connection(("127.0.0.1", self.port)) for _ in range(12)]
        stop = threading.Event()

        def drip():
            while not stop.wait(2):
                for c in clients:
                    try:
                        c.sendall(b"G")
                    except OSError:
                        pass

        dripper = threading.Thread(target=drip)
        dripper.start()
        try:
            time.sleep(3)
            self.assertEqual(self.request("GET", "/", timeout=5)[0], 200)
        finally:
            stop.set()
            dripper.join()
            for c in clients:
                c.close()

    def test_helper_ignores_stop(self):
        session = self.start_session()
        conn, events = self.events(session)
        self.request("POST", f"/api/session/{session}/stop", {})
        self.assertEqual(self.next_event(events), {"code": 128 + 9, "evt": "exit"})  # killed after the grace period
        self.start_session()

    def test_never_opened(self):
        self.start_session()
        program.wait_for(self, lambda: self.request("POST", "/api/session", {"secret": SECRET})[0] != 409,
                         "the unopened session still holds the slot", 8)
        self.assertEqual(self.commands()[1:3], [{"cmd": "stop"}, "exit"])

    def test_throttled_secrets(self):
        for _ in range(5):
            self.assertEqual(self.request("POST", "/api/session", {"secret": "wrong-wrong-wrong"})[0], 403)
        # Now even the right secret waits, so that guessing goes no faster.
        self.assertEqual(self.request("POST", "/api/session", {"secret": SECRET})[0], 429)
        self.assertGreaterEqual(int(self.last_headers["Retry-After"]), 1)
        time.sleep(int(self.last_headers["Retry-After"]) + 0.2)
        self.start_session()

    def test_sockets_kept_from_the_helper(self):
        # The page's connection is open while the helper starts.
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        conn.request("POST", "/api/session", body=json.dumps({"secret": SECRET}),
                     headers={"Content-Type": "application/json", "Connection": "keep-alive"})
        self.assertEqual(conn.getresponse().status, 200)
        inherited = self.record + ".inherited"
        program.wait_for(self, lambda: program.recorded(inherited), "the helper did not count its sockets", 10)
        self.assertEqual(program.recorded(inherited), ["sockets 0"])
        conn.close()

    def test_tls_off_loopback(self):
        url, fingerprint = self.url_line.strip().rstrip(")").split(" (certificate SHA-256 ")
        self.assertEqual(url, f"Open https://0.0.0.0:{self.port}/#secret={SECRET}")
        der = ssl.PEM_cert_to_DER_cert(ssl.get_server_certificate(("127.0.0.1", self.port)))
        self.assertEqual(fingerprint, ":".join(f"{b:02X}" for b in hashlib.sha256(der).digest()))
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as s:
            s.sendall(f"GET / HTTP/1.1\r\nHost: 127.0.0.1:{self.port}\r\n\r\n".encode())
            self.assertIsNone(read_status(s))  # no plain HTTP

    def test_version(self):
        out = subprocess.run([*program.emulator, program.agent, "--version"], capture_output=True, text=True,
                             timeout=60).stdout
        head = subprocess.run(["git", "-C", os.path.dirname(__file__), "rev-parse", "--short=12", "HEAD"],
                              capture_output=True, text=True).stdout.strip()
        commit = head or "[0-9a-f]{12}"
        self.assertRegex(out.strip(), rf"^remote-agent \d+\.\d+\.\d+ \(commit {commit}( with changes)?\)$")


if __name__ == "__main__":
    program.main()
