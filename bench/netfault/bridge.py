#!/usr/bin/env python3
"""A user-space Ethernet bridge between two interfaces that delays, drops,
rate-limits or cuts the frames in each direction, for kernels without netem.

    bridge.py IFACE_A IFACE_B

Frames that arrive on A leave on B ("ab") and the other way ("ba"). Standard
input takes one JSON object per line that replaces a direction's settings:
    {"ab": {"delayMs": 50, "loss": 0.05, "rateKbps": 2000, "queueMs": 250, "cut": false}}
Missing keys fall back to no delay, no loss, no rate limit, not cut. On end of
input the bridge exits. Each line is answered, once applied, with "ok" and
the frame counts and offered bytes of each direction ("a" and "b" by arrival
side); an empty object only asks for them.
"""
import heapq
import json
import os
import random
import select
import socket
import sys
import time

ETH_P_ALL = 0x0003
PACKET_OUTGOING = 4


class Direction:
    def __init__(self):
        self.set({})
        self.free_at = 0.0  # when the rate-limited link finishes the last frame
        self.dropped = 0
        self.passed = 0
        self.arrived_bytes = 0  # what the sender offered, passed or not

    def set(self, settings):
        self.delay = settings.get("delayMs", 0) / 1000.0
        self.loss = settings.get("loss", 0.0)
        self.rate = settings.get("rateKbps", 0) * 1000.0
        self.queue = settings.get("queueMs", 250) / 1000.0
        self.cut = settings.get("cut", False)

    def departure(self, now, size):
        """When a frame of `size` bytes leaves, or None when it is dropped."""
        self.arrived_bytes += size
        if self.cut or (self.loss and random.random() < self.loss):
            self.dropped += 1
            return None
        start = now
        if self.rate:
            start = max(now, self.free_at)
            if start - now > self.queue:
                self.dropped += 1
                return None
            self.free_at = start + size * 8 / self.rate
            start = self.free_at
        self.passed += 1
        return start + self.delay


def open_socket(name):
    s = socket.socket(socket.AF_PACKET, socket.SOCK_RAW, socket.htons(ETH_P_ALL))
    s.bind((name, 0))
    s.setblocking(False)
    return s


def main():
    a, b = sys.argv[1], sys.argv[2]
    sock = {"a": open_socket(a), "b": open_socket(b)}
    way = {"a": Direction(), "b": Direction()}  # keyed by the arrival side
    out = {"a": sock["b"], "b": sock["a"]}
    pending = []  # (time, sequence, side, frame)
    sequence = 0
    stdin = sys.stdin.fileno()
    buffered = b""
    while True:
        now = time.monotonic()
        while pending and pending[0][0] <= now:
            _, _, side, frame = heapq.heappop(pending)
            try:
                out[side].send(frame)
            except OSError:
                pass
        timeout = max(0.0, pending[0][0] - now) if pending else 0.5
        readable, _, _ = select.select([sock["a"], sock["b"], stdin], [], [], timeout)
        for r in readable:
            if r == stdin:
                chunk = os.read(stdin, 65536)
                if not chunk:
                    return
                buffered += chunk
                while b"\n" in buffered:
                    line, buffered = buffered.split(b"\n", 1)
                    if not line.strip():
                        continue
                    command = json.loads(line)
                    if "ab" in command:
                        way["a"].set(command["ab"])
                    if "ba" in command:
                        way["b"].set(command["ba"])
                    counts = {k: {"passed": v.passed, "dropped": v.dropped, "bytes": v.arrived_bytes} for k, v in way.items()}
                    print("ok " + json.dumps(counts), flush=True)
                continue
            side = "a" if r == sock["a"] else "b"
            for _ in range(64):
                try:
                    frame, address = r.recvfrom(65536)
                except BlockingIOError:
                    break
                if address[2] == PACKET_OUTGOING:
                    continue  # our own sends, seen again
                when = way[side].departure(time.monotonic(), len(frame))
                if when is None:
                    continue
                sequence += 1
                heapq.heappush(pending, (when, sequence, side, frame))


if __name__ == "__main__":
    main()
