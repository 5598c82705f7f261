#!/usr/bin/env python3
"""A bare broker client, as a host or a viewer uses the broker: it fetches the server's public description, makes
its own user key, signs its own user JWT with its role's signing key and proves the key by signing the server's
nonce. An operator checks a support server with it (reachable, and every user confined to its own subject); the
network test runs it behind the host's NAT; the idle-hosts benchmark opens many of it.

  broker_client.py probe --server https://NAME:PORT --ca CA [--signers FILE --role viewer]
      prints one JSON line: the subjects the broker refused, then answers every message that names a reply
      subject with the same payload, until its input closes
  broker_client.py mint --signers FILE --role ROLE
      prints {"seed", "pub", "jwt"}: a user key and its JWT, for a client elsewhere (the browser)
"""
import argparse
import asyncio
import base64
import json
import ssl
import sys
import urllib.parse
import urllib.request

from make_accounts import Key, base64url, jwt

LINE_LIMIT = 70000


def seed_from_text(text):
    raw = base64.b32decode(text + "=" * (-len(text) % 8))
    return raw[2:34]


def mint(signers, role):
    """A fresh user key of `role` and its JWT, as every client makes its own."""
    signer = Key("A", seed_from_text(signers[role + "Signer"]))
    user = Key("U")
    claims = {"issuer_account": signers["account"], "type": "user", "version": 2}
    return user, jwt(signer, user.public, role, claims)


class BrokerError(Exception):
    pass


class Connection:
    """One client connection: TLS after the server's INFO, as the broker's protocol has it."""

    def __init__(self, reader, writer):
        self.reader, self.writer = reader, writer

    @classmethod
    async def open(cls, url, context, user, user_jwt, name="probe"):
        parts = urllib.parse.urlsplit(url)
        reader, writer = await asyncio.open_connection(parts.hostname, parts.port or 4222)
        info = await reader.readline()
        if not info.startswith(b"INFO "):
            raise BrokerError(f"no INFO: {info[:80]!r}")
        nonce = json.loads(info[5:])["nonce"]
        await writer.start_tls(context, server_hostname=parts.hostname)
        connect = {"verbose": False, "pedantic": False, "tls_required": True, "name": name, "lang": "python",
                   "version": "0", "protocol": 1, "jwt": user_jwt,
                   "sig": base64url(user.private.sign(nonce.encode()))}
        writer.write(f"CONNECT {json.dumps(connect)}\r\nPING\r\n".encode())
        self = cls(reader, writer)
        reply = await self.line()
        if reply != "PONG":
            raise BrokerError(reply)
        return self

    async def line(self):
        data = await self.reader.readline()
        if not data or len(data) > LINE_LIMIT:
            raise BrokerError("connection closed")
        return data.decode().rstrip("\r\n")

    async def subscribe(self, subject, sid):
        """True when the broker takes the subscription, False when it refuses it."""
        self.writer.write(f"SUB {subject} {sid}\r\nPING\r\n".encode())
        while True:
            line = await self.line()
            if line == "PONG":
                return True
            if line.startswith("-ERR") and "Permissions Violation" in line:
                await self.line()  # its PONG
                return False
            if line != "PING":
                raise BrokerError(line)
            self.writer.write(b"PONG\r\n")

    def publish(self, subject, payload, reply=None):
        head = f"PUB {subject} {reply} {len(payload)}" if reply else f"PUB {subject} {len(payload)}"
        self.writer.write(head.encode() + b"\r\n" + payload + b"\r\n")

    async def messages(self):
        """(subject, reply, payload) for every message; answers the broker's pings meanwhile."""
        while True:
            line = await self.line()
            if line == "PING":
                self.writer.write(b"PONG\r\n")
            elif line.startswith("MSG "):
                parts = line.split(" ")
                payload = (await self.reader.readexactly(int(parts[-1]) + 2))[:-2]
                yield parts[1], (parts[3] if len(parts) == 5 else None), payload
            elif line.startswith("-ERR"):
                raise BrokerError(line)

    def close(self):
        self.writer.close()


def tls_context(ca):
    context = ssl.create_default_context(cafile=ca)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    return context


def fetch_description(server, context):
    with urllib.request.urlopen(server.rstrip("/") + "/dravnok-server.json", context=context, timeout=10) as answer:
        return json.loads(answer.read(65536))


async def probe(args):
    context = tls_context(args.ca)
    description = fetch_description(args.server, context)
    signers = description if args.role == "host" else json.load(open(args.signers))
    user, user_jwt = mint(signers, args.role)
    other, _ = mint(signers, args.role)
    connection = await Connection.open(description["brokers"][0], context, user, user_jwt)
    own = f"dv1.{user.public}"
    tried = [own, "dv1.*", "dv1.>", ">", f"dv1.{other.public}", "_INBOX.>"]
    refused = [subject for sid, subject in enumerate(tried) if not await connection.subscribe(subject, sid + 1)]
    print(json.dumps({"subject": own, "refused": refused}), flush=True)
    async for subject, reply, payload in connection.messages():
        if reply:
            connection.publish(reply, payload)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("command", choices=["probe", "mint"])
    parser.add_argument("--server")
    parser.add_argument("--ca")
    parser.add_argument("--signers")
    parser.add_argument("--role", default="host", choices=["host", "viewer"])
    args = parser.parse_args()
    if args.command == "mint":
        user, user_jwt = mint(json.load(open(args.signers)), args.role)
        print(json.dumps({"seed": user.seed_text, "pub": user.public, "jwt": user_jwt}))
        return 0
    loop = asyncio.new_event_loop()
    task = loop.create_task(probe(args))
    # Ends when its input closes, so that the harness stops it by closing a pipe.
    loop.add_reader(sys.stdin.fileno(), lambda: sys.stdin.buffer.read1(4096) or task.cancel())
    try:
        loop.run_until_complete(task)
    except (asyncio.CancelledError, BrokerError):
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
