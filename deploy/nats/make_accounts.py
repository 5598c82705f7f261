#!/usr/bin/env python3
"""Makes the broker's identities for operator mode: an operator, the system account and the "dravnok" account with
two scoped signing keys, one for hosts and one for viewers. Every client makes its own user key and signs its own
user JWT with the signing key of its role; the role's template lets a user subscribe only to dv1.<its own public
key>, so no connection can subscribe to another's subject or to a wildcard.

Writes, into the folder given:
  accounts.conf   the nats-server configuration lines (operator, system_account, resolver, resolver_preload)
  signers.json    {"account": "A...", "hostSigner": "SA...", "viewerSigner": "SA..."}
  keys.json       the operator's and accounts' seeds (kept by the operator, never served)
Existing files are kept, so that a restart keeps every identity (and the links hosts printed stay valid).
"""
import argparse
import base64
import hashlib
import json
import os
import sys
import time

from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric.ed25519 import Ed25519PrivateKey

# nkey prefix bytes: the first letter of the key's text form.
PREFIX = {"O": 14 << 3, "A": 0, "U": 20 << 3}
SEED_PREFIX = 18 << 3

# What every user may do: receive only on its own subject, send to any; small messages. Hosts and viewers have the
# same rights but separate keys: the hosts' one is public, the viewers' one is given to supporters only.
ROLE_TEMPLATE = {
    "pub": {"allow": ["dv1.*"]},
    "sub": {"allow": ["dv1.{{subject()}}"]},
    "subs": 4,
    "data": -1,
    "payload": 65536,
}
ROLES = ("host", "viewer")
UNLIMITED = {"subs": -1, "data": -1, "payload": -1, "imports": -1, "exports": -1, "wildcards": True, "conn": -1,
             "leaf": -1}


def crc16(data):
    """CRC-16/XMODEM, as nkeys append it."""
    crc = 0
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) if crc & 0x8000 else crc << 1
            crc &= 0xFFFF
    return crc


def base32(data):
    return base64.b32encode(data).decode().rstrip("=")


def base64url(data):
    return base64.urlsafe_b64encode(data).decode().rstrip("=")


class Key:
    def __init__(self, kind, seed=None):
        self.kind = kind
        self.seed = seed or os.urandom(32)
        self.private = Ed25519PrivateKey.from_private_bytes(self.seed)
        raw = self.private.public_key().public_bytes(serialization.Encoding.Raw, serialization.PublicFormat.Raw)
        data = bytes([PREFIX[kind]]) + raw
        self.public = base32(data + crc16(data).to_bytes(2, "little"))
        prefix = PREFIX[kind]
        data = bytes([SEED_PREFIX | (prefix >> 5), (prefix & 31) << 3]) + self.seed
        self.seed_text = base32(data + crc16(data).to_bytes(2, "little"))


def jwt(issuer, subject, name, nats):
    claims = {"iat": int(time.time()), "iss": issuer.public, "name": name, "sub": subject, "nats": nats}
    claims["jti"] = base32(hashlib.sha256(json.dumps(claims, sort_keys=True).encode()).digest())
    header = base64url(json.dumps({"typ": "JWT", "alg": "ed25519-nkey"}, separators=(",", ":")).encode())
    body = base64url(json.dumps(claims, separators=(",", ":")).encode())
    return f"{header}.{body}.{base64url(issuer.private.sign(f'{header}.{body}'.encode()))}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder")
    folder = parser.parse_args().folder
    os.makedirs(folder, exist_ok=True)
    keys_path = os.path.join(folder, "keys.json")
    if os.path.exists(keys_path):
        with open(keys_path) as f:
            seeds = {name: bytes.fromhex(seed) for name, seed in json.load(f).items()}
    else:
        seeds = {name: os.urandom(32) for name in ("operator", "system", "account", "host", "viewer")}
        fd = os.open(keys_path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
        with os.fdopen(fd, "w") as f:
            json.dump({name: seed.hex() for name, seed in seeds.items()}, f)
    operator = Key("O", seeds["operator"])
    system = Key("A", seeds["system"])
    account = Key("A", seeds["account"])
    signers = {role: Key("A", seeds[role]) for role in ROLES}

    scopes = [{"kind": "user_scope", "key": signers[role].public, "role": role, "template": ROLE_TEMPLATE}
              for role in ROLES]
    operator_jwt = jwt(operator, operator.public, "dravnok",
                       {"type": "operator", "version": 2, "system_account": system.public})
    system_jwt = jwt(operator, system.public, "SYS", {"type": "account", "version": 2, "limits": UNLIMITED})
    account_jwt = jwt(operator, account.public, "dravnok",
                      {"type": "account", "version": 2, "limits": UNLIMITED, "signing_keys": scopes})
    with open(os.path.join(folder, "accounts.conf"), "w") as f:
        f.write(f"operator: {operator_jwt}\nsystem_account: {system.public}\nresolver: MEMORY\n"
                f"resolver_preload: {{\n  {account.public}: {account_jwt}\n  {system.public}: {system_jwt}\n}}\n")
    with open(os.path.join(folder, "signers.json"), "w") as f:
        json.dump({"account": account.public, "hostSigner": signers["host"].seed_text,
                   "viewerSigner": signers["viewer"].seed_text}, f)
    return 0


if __name__ == "__main__":
    sys.exit(main())
