#!/usr/bin/env python3
"""Runs remote-agent --server against a real broker in operator mode (TLS on loopback, identities made by
deploy/nats/make_accounts.py) with the server description on a small HTTPS server, and plays the supporter's page
over a raw broker connection: the handshake, the signalling, hostile messages, a second supporter and a broker
restart in the middle of a session."""
import argparse
import base64
import functools
import hashlib
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

from cryptography.hazmat.primitives import hashes
from cryptography.hazmat.primitives.ciphers.aead import AESGCM
from cryptography.hazmat.primitives.kdf.hkdf import HKDF

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "deploy" / "nats"))
import make_accounts  # noqa: E402

AGENT = HELPER = None
EMULATOR = []
ICE = [{"urls": "turn:turn.example:3478?transport=udp", "username": "1700000000:host", "credential": "c"}]


def native(path):
    return "Z:" + str(path).replace("/", "\\") if EMULATOR else str(path)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def hkdf(secret, info):
    return HKDF(algorithm=hashes.SHA256(), length=32, salt=b"dravnok link v1", info=info).derive(secret)


def seal(key, direction, sid, seq, body):
    header = bytes([1, direction]) + sid + seq.to_bytes(8, "big")
    return header + AESGCM(key).encrypt(bytes([direction, 0, 0, 0]) + header[18:], json.dumps(body).encode(), header)


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


class Connection:
    """A broker client that speaks the text protocol itself, as a hostile one could."""

    def __init__(self, port, ca, signer, account, user):
        raw = socket.create_connection(("127.0.0.1", port), timeout=10)
        line = b""
        while not line.endswith(b"\r\n"):
            line += raw.recv(1)
        nonce = json.loads(line[5:])["nonce"]
        self.sock = ssl.create_default_context(cafile=ca).wrap_socket(raw, server_hostname="127.0.0.1")
        token = make_accounts.jwt(signer, user.public, "viewer",
                                  {"issuer_account": account, "type": "user", "version": 2})
        sig = make_accounts.base64url(user.private.sign(nonce.encode()))
        self.buffer = b""
        self.send(b"CONNECT " + json.dumps({"jwt": token, "sig": sig, "verbose": False, "echo": False}).encode() +
                  f"\r\nSUB dv1.{user.public} 1\r\nPING\r\n".encode())
        while self.line() != b"PONG":
            pass

    def send(self, data):
        self.sock.sendall(data)

    def publish(self, subject, payload):
        self.send(f"PUB {subject} {len(payload)}\r\n".encode() + payload + b"\r\n")

    def line(self):
        while b"\r\n" not in self.buffer:
            data = self.sock.recv(65536)
            if not data:
                raise ConnectionError("the broker closed the connection")
            self.buffer += data
        line, self.buffer = self.buffer.split(b"\r\n", 1)
        return line

    def message(self, timeout):
        """The next message's payload, or None after `timeout` seconds without one."""
        self.sock.settimeout(timeout)
        try:
            while True:
                line = self.line()
                if line == b"PING":
                    self.send(b"PONG\r\n")
                elif line.startswith(b"MSG "):
                    size = int(line.split()[-1])
                    while len(self.buffer) < size + 2:
                        self.buffer += self.sock.recv(65536)
                    payload, self.buffer = self.buffer[:size], self.buffer[size + 2:]
                    return payload
        except (socket.timeout, TimeoutError):
            return None
        finally:
            self.sock.settimeout(10)


class Viewer:
    """The page's side of the signalling for one browser tab."""

    def __init__(self, test):
        self.test, self.user = test, make_accounts.Key("U")
        self.connect()

    def connect(self):
        t = self.test
        self.conn = Connection(t.broker_port, t.ca, t.signer, t.account, self.user)
        t.addCleanup(self.conn.sock.close)

    def hello(self, sid=None):
        self.sid, self.seq = sid or os.urandom(16), 0
        self.to_host = hkdf(self.test.secret, b"dravnok v2h" + self.sid)
        self.to_viewer = hkdf(self.test.secret, b"dravnok h2v" + self.sid)
        return self.send({"t": "hello", "viewer": self.user.public, "ice": ICE})

    def send(self, body, key=None):
        message = seal(key or self.to_host, 1, self.sid, self.seq, body)
        self.seq += 1
        self.conn.publish(self.test.host_subject, message)
        return message

    def receive(self, timeout=15):
        """The next message of this tab's current session (those of its earlier ones are dropped, as the page
        drops them)."""
        message = self.conn.message(timeout)
        while message is not None and message[:18] != bytes([1, 2]) + self.sid:
            message = self.conn.message(timeout)
        if message is None:
            return None
        nonce = bytes([2, 0, 0, 0]) + message[18:26]
        return int.from_bytes(message[18:26], "big"), json.loads(AESGCM(self.to_viewer).decrypt(nonce, message[26:],
                                                                                                  message[:26]))


class BrokerTest(unittest.TestCase):
    def setUp(self):
        self.dir = pathlib.Path(self.enterContext(tempfile.TemporaryDirectory(prefix="dravnok-broker-")))
        subprocess.run([sys.executable, ROOT / "deploy/nats/make_accounts.py", self.dir / "ids"], check=True)
        self.make_certificates()
        signers = json.loads((self.dir / "ids/signers.json").read_text())
        keys = json.loads((self.dir / "ids/keys.json").read_text())
        self.account, self.signer = signers["account"], make_accounts.Key("A", bytes.fromhex(keys["viewer"]))
        self.broker_port = free_port()
        (self.dir / "nats.conf").write_text(
            f'listen: 127.0.0.1:{self.broker_port}\ntls {{ cert_file: "{self.dir}/server.pem", '
            f'key_file: "{self.dir}/server.key" }}\ninclude ids/accounts.conf\n')
        self.start_broker()
        (self.dir / "www").mkdir()
        (self.dir / "www/dravnok-server.json").write_text(json.dumps({
            "version": 1, "brokers": [f"tls://127.0.0.1:{self.broker_port}"], "account": self.account,
            "hostSigner": signers["hostSigner"]}))
        handler = functools.partial(QuietHandler, directory=self.dir / "www")
        self.web = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self.addCleanup(self.web.server_close)
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(self.dir / "server.pem", self.dir / "server.key")
        self.web.socket = context.wrap_socket(self.web.socket, server_side=True)
        threading.Thread(target=self.web.serve_forever, daemon=True).start()
        self.addCleanup(self.web.shutdown)
        self.record, self.log = self.dir / "commands", self.dir / "agent.log"
        log = self.enterContext(self.log.open("w"))
        self.agent = subprocess.Popen(
            [*EMULATOR, AGENT, "--server", f"https://127.0.0.1:{self.web.server_port}", "--server-ca",
             native(self.ca), "--helper", native(HELPER), "--viewer-name", "Ann", "--ice", "stun:stun.example:3478"],
            stdout=subprocess.PIPE, stderr=log, text=True,
            env=dict(os.environ, FAKE_HELPER_RECORD=native(self.record)))
        self.link = self.agent.stdout.readline().strip()
        fragment = self.link.partition("#k=")[2]
        self.secret = base64.urlsafe_b64decode(fragment + "=")
        self.host_subject = "dv1." + make_accounts.Key("U", hkdf(self.secret, b"dravnok host nkey")).public
        self.wait_for_log("connected to the broker")

    def tearDown(self):
        self.agent.terminate()
        self.agent.wait(timeout=30)
        self.agent.stdout.close()
        self.broker.terminate()
        self.broker.wait()
        print(self.log.read_text())

    def make_certificates(self):
        self.ca = self.dir / "ca.pem"
        run = functools.partial(subprocess.run, check=True, capture_output=True, cwd=self.dir)
        run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
             "-keyout", "ca.key", "-out", "ca.pem", "-days", "2", "-subj", "/CN=test authority"])
        run(["openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout",
             "server.key", "-out", "server.csr", "-subj", "/CN=127.0.0.1"])
        (self.dir / "ext").write_text("subjectAltName=IP:127.0.0.1\n")
        run(["openssl", "x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
             "-out", "server.pem", "-days", "2", "-extfile", "ext"])

    def start_broker(self):
        self.broker = subprocess.Popen(["nats-server", "-c", self.dir / "nats.conf"], cwd=self.dir,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            with socket.socket() as s:
                if s.connect_ex(("127.0.0.1", self.broker_port)) == 0:
                    return
            time.sleep(0.1)
        self.fail("the broker did not start")

    def wait_for(self, predicate, what, timeout=30):
        deadline = time.monotonic() + timeout
        while not predicate():
            self.assertLess(time.monotonic(), deadline, what)
            time.sleep(0.05)

    def wait_for_log(self, text, count=1):
        self.wait_for(lambda: self.log.read_text().count(text) >= count, f"no '{text}' in the agent's log")

    def commands(self):
        return [json.loads(line) if line.startswith("{") else line.strip()
                for line in self.record.read_text().splitlines()] if self.record.exists() else []

    def wait_for_command(self, command):
        self.wait_for(lambda: command in self.commands(), f"the helper never got {command}")

    def test_session_through_the_broker_survives_hostile_messages_and_a_broker_restart(self):
        self.assertRegex(self.link, rf"^Give the supporter this link: https://127\.0\.0\.1:{self.web.server_port}/"
                                    r"#k=[A-Za-z0-9_-]{43}$")
        ann, bob = Viewer(self), Viewer(self)
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
        started = time.monotonic()
        ann.send({"t": "offer", "sdp": "v=0", "challenge": welcome["challenge"]})
        self.assertEqual(ann.receive()[1], {"t": "event", "event": {"evt": "answer", "sdp": "answer-to:v=0"}})
        offer_ms = (time.monotonic() - started) * 1000
        seq, event = ann.receive()
        self.assertEqual((seq, event["event"]["evt"]), (2, "ice"))
        print(f"\nsignalling through the broker: hello to welcome {statistics.median(times):.1f} ms (median of 20), "
              f"offer to answer {offer_ms:.1f} ms", file=sys.stderr)
        bob.hello()
        self.assertEqual(bob.receive()[1], {"t": "busy"})

        candidate = {"candidate": "candidate:2 1 udp 1 192.0.2.1 9 typ host", "sdpMid": "0", "sdpMLineIndex": 0,
                     "usernameFragment": "u", "extra": "not copied"}
        sent = ann.send({"t": "ice", "candidate": candidate})
        tampered = bytearray(sent)
        tampered[30] ^= 1
        for message in (bytes(tampered), sent):  # tampered, replayed
            ann.conn.publish(self.host_subject, message)
        ann.send({"t": "ice", "candidate": None}, key=os.urandom(32))  # a wrong key
        for i in range(300):  # junk, half of it on the session's sid
            ann.conn.publish(self.host_subject, bytes([1, 1]) + (ann.sid if i % 2 else os.urandom(16)) +
                             os.urandom(40 + i))
        ann.send({"t": "ice", "candidate": None})
        self.wait_for_command({"cmd": "ice", "candidate": None})
        del candidate["extra"]
        self.assertEqual(self.commands(), [
            {"cmd": "start", "sessionId": self.commands()[0]["sessionId"], "mode": "control", "viewerName": "Ann",
             "iceServers": [{"urls": "stun:stun.example:3478"}, *ICE]},
            {"cmd": "offer", "sdp": "v=0"}, {"cmd": "ice", "candidate": candidate},
            {"cmd": "ice", "candidate": None}])
        self.assertIsNone(ann.receive(timeout=0.5))

        # The broker goes away: the helper goes on, the agent comes back, and so do the session's messages.
        self.broker.terminate()
        self.broker.wait()
        self.wait_for_log("lost the broker")
        self.start_broker()
        self.wait_for_log("reconnected to the broker")
        ann.connect()
        bob.connect()
        self.assertNotIn("exit", self.commands())
        ann.send({"t": "stop"})
        self.assertEqual(ann.receive()[1], {"t": "event", "event": {"evt": "exit", "code": 0}})
        self.assertEqual(self.commands()[-2:], [{"cmd": "stop"}, "exit"])
        bob.hello()
        self.assertEqual(bob.receive()[1]["t"], "welcome", "the host is free again")

    def test_a_reconnecting_tab_takes_its_session_over(self):
        ann, bob = Viewer(self), Viewer(self)
        for sdp in ("v=0", "v=1"):  # the second hello comes from the same tab: its old session ends
            ann.hello()
            welcome = ann.receive()[1]
            ann.send({"t": "offer", "sdp": sdp, "challenge": welcome["challenge"]})
            self.assertEqual(ann.receive()[1]["event"], {"evt": "answer", "sdp": "answer-to:" + sdp})
        self.assertEqual([c if isinstance(c, str) else c["cmd"] for c in self.commands()][:5],
                         ["start", "offer", "stop", "exit", "start"])
        bob.hello()
        self.assertEqual(bob.receive()[1], {"t": "busy"})


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--agent", required=True)
    parser.add_argument("--helper", required=True)
    parser.add_argument("--emulator", default="")
    args, rest = parser.parse_known_args()
    AGENT, HELPER = os.path.abspath(args.agent), os.path.abspath(args.helper)
    EMULATOR = [args.emulator] if args.emulator else []
    unittest.main(argv=[sys.argv[0], "-v", *rest])
