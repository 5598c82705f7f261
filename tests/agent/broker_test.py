#!/usr/bin/env python3
# Runs remote-agent --server against a real broker in operator mode (TLS on loopback, identities made by
# deploy/nats/make_accounts.py) with the server description on a small HTTPS server, and plays the supporter's page
# over a raw broker connection: the handshake (timed), the signalling, junk, and a broker restart in the middle of a
# session.
import base64
import functools
import http.server
import json
import os
import pathlib
import socket
import ssl
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import helper_program as program
from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.ciphers.aead import AESGCM
from cryptography.hazmat.primitives.kdf.hkdf import HKDF

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "deploy" / "nats"))
import make_accounts  # noqa: E402

ICE = [{"urls": "turn:turn.example:3478?transport=udp", "username": "1700000000:host", "credential": "c"}]


def hkdf(secret, info):
    return HKDF(algorithm=hashes.SHA256(), length=32, salt=b"dravnok link v1", info=info).derive(secret)


class Tab:
    # A browser tab's side of the signalling, over a broker connection that speaks the text protocol itself, as a
    # hostile client could.

    def __init__(self, test):
        self.test, self.user = test, make_accounts.Key("U")
        self.connect()

    def connect(self):
        t = self.test
        raw = socket.create_connection(("127.0.0.1", t.broker_port), timeout=10)
        greeting = b""
        while not greeting.endswith(b"\r\n"):
            greeting += raw.recv(1)
        self.sock = ssl.create_default_context(cafile=t.ca).wrap_socket(raw, server_hostname="127.0.0.1")
        t.addCleanup(self.sock.close)
        token = make_accounts.jwt(t.signer, self.user.public, "viewer",
                                  {"issuer_account": t.account, "type": "user", "version": 2})
        sig = make_accounts.base64url(self.user.private.sign(json.loads(greeting[5:])["nonce"].encode()))
        self.file = self.sock.makefile("rb")
        self.sock.sendall(b"CONNECT " + json.dumps({"jwt": token, "sig": sig, "echo": False}).encode() +
                          f"\r\nSUB dv1.{self.user.public} 1\r\nPING\r\n".encode())
        while self.line() != b"PONG":
            pass

    def publish(self, payload):
        self.sock.sendall(f"PUB {self.test.host_subject} {len(payload)}\r\n".encode() + payload + b"\r\n")

    def line(self):
        line = self.file.readline()
        self.test.assertTrue(line, "the broker closed the connection")
        return line.rstrip(b"\r\n")

    def hello(self):
        self.sid, self.seq = os.urandom(16), 0
        self.to_host = hkdf(self.test.secret, b"dravnok v2h" + self.sid)
        self.to_viewer = hkdf(self.test.secret, b"dravnok h2v" + self.sid)
        self.send({"t": "hello", "viewer": self.user.public, "ice": ICE})

    def send(self, body):
        header = bytes([1, 1]) + self.sid + self.seq.to_bytes(8, "big")
        self.seq += 1
        self.publish(header + AESGCM(self.to_host).encrypt(bytes([1, 0, 0, 0]) + header[18:], json.dumps(body).encode(),
                                                           header))

    def receive(self, timeout=15):
        # (seq, body) of the next message of this tab's current session, dropping those of its earlier ones as the
        # page does; None after `timeout` seconds without one.
        self.sock.settimeout(timeout)
        try:
            while True:
                line = self.line()
                if line.startswith(b"MSG "):
                    message = self.file.read(int(line.split()[-1]) + 2)[:-2]
                    if message[:18] == bytes([1, 2]) + self.sid:
                        break
        except (socket.timeout, TimeoutError):
            return None
        body = AESGCM(self.to_viewer).decrypt(bytes([2, 0, 0, 0]) + message[18:26], message[26:], message[:26])
        return int.from_bytes(message[18:26], "big"), json.loads(body)


class BrokerTest(unittest.TestCase):
    def setUp(self):
        self.dir = pathlib.Path(self.enterContext(tempfile.TemporaryDirectory(prefix="dravnok-broker-")))
        subprocess.run([sys.executable, ROOT / "deploy/nats/make_accounts.py", self.dir / "ids"], check=True)
        # A throwaway certificate that is its own authority: the agent gets it with --server-ca.
        self.ca = self.dir / "server.pem"
        subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                        "-keyout", "server.key", "-out", "server.pem", "-days", "2", "-subj", "/CN=127.0.0.1",
                        "-addext", "subjectAltName=IP:127.0.0.1"], check=True, capture_output=True, cwd=self.dir)
        signers, keys = (json.loads((self.dir / f"ids/{name}.json").read_text()) for name in ("signers", "keys"))
        self.account, self.signer = signers["account"], make_accounts.Key("A", bytes.fromhex(keys["viewer"]))
        self.broker_port = program.free_port()
        (self.dir / "nats.conf").write_text(
            f'listen: 127.0.0.1:{self.broker_port}\ntls {{ cert_file: "{self.dir}/server.pem", '
            f'key_file: "{self.dir}/server.key" }}\ninclude ids/accounts.conf\n')
        self.start_broker()
        (self.dir / "dravnok-server.json").write_text(json.dumps({
            "version": 1, "brokers": [f"tls://127.0.0.1:{self.broker_port}"], "account": self.account,
            "hostSigner": signers["hostSigner"]}))
        handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=self.dir)
        self.web = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(self.dir / "server.pem", self.dir / "server.key")
        self.web.socket = context.wrap_socket(self.web.socket, server_side=True)
        threading.Thread(target=self.web.serve_forever, daemon=True).start()
        self.addCleanup(self.web.shutdown)
        self.record, self.log = self.dir / "commands", self.dir / "agent.log"
        log = self.enterContext(self.log.open("w"))
        self.agent = program.start_agent(self.record, "--server", f"https://127.0.0.1:{self.web.server_port}",
                                         "--server-ca", program.native(self.ca), "--ice", "stun:stun.example:3478",
                                         stderr=log)
        self.link = self.agent.stdout.readline().strip()
        self.secret = base64.urlsafe_b64decode(self.link.partition("#k=")[2] + "=")
        self.host_subject = "dv1." + make_accounts.Key("U", hkdf(self.secret, b"dravnok host nkey")).public
        self.wait_for_log("connected to the broker")

    def tearDown(self):
        self.agent.terminate()
        self.agent.wait(timeout=30)
        self.agent.stdout.close()
        self.broker.terminate()
        self.broker.wait()
        print(self.log.read_text())

    def start_broker(self):
        # The agent and the tabs connect once it says it is back.
        self.broker = subprocess.Popen(["nats-server", "-c", self.dir / "nats.conf"], cwd=self.dir,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def wait_for_log(self, text):
        program.wait_for(self, lambda: text in self.log.read_text(), f"no '{text}' in the agent's log")

    def commands(self):
        return program.recorded(self.record)

    def test_session_through_the_broker_survives_hostile_messages_and_a_broker_restart(self):
        self.assertRegex(self.link, rf"^Give the supporter this link: https://127\.0\.0\.1:{self.web.server_port}/"
                                    r"#k=[A-Za-z0-9_-]{43}$")
        ann, bob = Tab(self), Tab(self)
        times = []
        for _ in range(20):
            started = time.monotonic()
            bob.hello()
            self.assertEqual(bob.receive()[1]["t"], "welcome")
            times.append((time.monotonic() - started) * 1000)
        ann.hello()
        seq, welcome = ann.receive()
        self.assertEqual((seq, welcome["t"], welcome["mode"], len(base64.b64decode(welcome["challenge"]))),
                         (0, "welcome", "control", 16))
        ann.send({"t": "offer", "sdp": "v=0", "challenge": base64.b64encode(bytes(16)).decode()})  # starts nothing
        for sdp in ("v=0", "v=1"):  # the first starts the helper, the second goes to the running one
            started = time.monotonic()
            ann.send({"t": "offer", "sdp": sdp, "challenge": welcome["challenge"]})
            self.assertEqual(ann.receive()[1], {"t": "event", "event": {"evt": "answer", "sdp": "answer-to:" + sdp}})
            times.append((time.monotonic() - started) * 1000)
            self.assertEqual(ann.receive()[1]["event"]["evt"], "ice")
        print(f"\nsignalling through the broker: hello to welcome {statistics.median(times[:20]):.1f} ms (median of "
              f"20), offer to answer {times[20]:.1f} ms starting the helper, {times[21]:.1f} ms to the running one",
              file=sys.stderr)

        candidate = {"candidate": "candidate:2 1 udp 1 192.0.2.1 9 typ host", "sdpMid": "0", "sdpMLineIndex": 0,
                     "usernameFragment": "u", "extra": "not copied"}
        ann.send({"t": "ice", "candidate": candidate})
        # Junk, half of it on the session's sid, of every length (the agent reads messages by their length; forged
        # and replayed ones are the rendezvous unit test's).
        for i in range(300):
            ann.publish(bytes([1, 1]) + (ann.sid if i % 2 else os.urandom(16)) + os.urandom(40 + i))
        ann.send({"t": "ice", "candidate": None})
        program.wait_for(self, lambda: {"cmd": "ice", "candidate": None} in self.commands(), "the last one is lost")
        del candidate["extra"]
        self.assertEqual(self.commands(), [
            {"cmd": "start", "sessionId": self.commands()[0]["sessionId"], "mode": "control", "viewerName": "Ann",
             "iceServers": [{"urls": "stun:stun.example:3478"}, *ICE]},
            {"cmd": "offer", "sdp": "v=0"}, {"cmd": "offer", "sdp": "v=1"}, {"cmd": "ice", "candidate": candidate},
            {"cmd": "ice", "candidate": None}])
        self.assertIsNone(ann.receive(timeout=0.5))

        # The broker goes away: the helper goes on, the agent comes back, and so do the session's messages.
        self.broker.terminate()
        self.broker.wait()
        self.wait_for_log("lost the broker")
        self.start_broker()
        self.wait_for_log("reconnected to the broker")
        ann.connect()
        self.assertNotIn("exit", self.commands())
        ann.send({"t": "stop"})
        self.assertEqual(ann.receive()[1], {"t": "event", "event": {"evt": "exit", "code": 0}})
        self.assertEqual(self.commands()[-2:], [{"cmd": "stop"}, "exit"])


if __name__ == "__main__":
    program.main()
