#!/usr/bin/env python3
"""The broker's memory and CPU with many connected idle hosts, against the same broker with none, in one run, and
a signalling message's round trip between two clients through it in both states.

The broker runs with the configuration scripts/support-server.sh writes (TLS, operator mode, its limits) on
loopback; each fake host opens a TLS connection, authenticates with its own user JWT (signed with the hosts'
signing key, as remote-agent does), subscribes to its own subject and then only answers the broker's pings.

  bench/broker_idle.py [--hosts 1000] [--window 60]
"""
import argparse
import asyncio
import json
import os
import resource
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(REPO, "deploy/nats"))
from broker_client import BrokerError, Connection, mint, tls_context  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")


def usage(pid):
    """Resident memory in KiB and CPU seconds used so far by the process."""
    with open(f"/proc/{pid}/status") as f:
        rss = next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return rss, (int(fields[11]) + int(fields[12])) / TICKS


async def measure(pid, window):
    """Mean CPU share and the peak memory over `window` seconds."""
    start_rss, start_cpu = usage(pid)
    started, peak = time.monotonic(), start_rss
    while time.monotonic() - started < window:
        await asyncio.sleep(1)
        peak = max(peak, usage(pid)[0])
    end_rss, end_cpu = usage(pid)
    return {"rss_mib": round(end_rss / 1024, 1), "peak_mib": round(peak / 1024, 1),
            "cpu_percent": round(100 * (end_cpu - start_cpu) / (time.monotonic() - started), 2)}


async def idle_host(url, context, signers, ready):
    user, user_jwt = mint(signers, "host")
    for attempt in range(5):  # as hosts do, when the broker cut a login it had no time for
        try:
            connection = await Connection.open(url, context, user, user_jwt, name="idle-host")
            break
        except (OSError, BrokerError):
            if attempt == 4:
                raise
            await asyncio.sleep(0.5 * 2 ** attempt)
    if not await connection.subscribe(f"dv1.{user.public}", 1):
        raise RuntimeError("own subject refused")
    ready.append(connection)
    async for _ in connection.messages():  # pings only
        pass


async def round_trips(url, context, signers, count=200):
    """Median and 99th percentile, in ms, of a message to another client and its answer through the broker."""
    ends = []
    for role in ("host", "viewer"):
        user, user_jwt = mint(signers, role)
        connection = await Connection.open(url, context, user, user_jwt, name=f"rtt-{role}")
        await connection.subscribe(f"dv1.{user.public}", 1)
        ends.append((connection, f"dv1.{user.public}", connection.messages()))
    (host, host_subject, host_messages), (viewer, viewer_subject, viewer_messages) = ends
    times = []
    for i in range(count):
        started = time.perf_counter()
        viewer.publish(host_subject, b"x" * 200, reply=viewer_subject)
        _, reply, payload = await anext(host_messages)
        host.publish(reply, payload)
        await anext(viewer_messages)
        times.append((time.perf_counter() - started) * 1000)
    for connection, _, _ in ends:
        connection.close()
    times.sort()
    return f"{times[len(times) // 2]:.2f} ms median, {times[len(times) * 99 // 100]:.2f} ms p99"


async def run(args, state, pid):
    signers = json.load(open(os.path.join(state, "nats/signers.json")))
    context = tls_context(os.path.join(state, "ca.pem"))
    url = f"tls://localhost:{args.port}"
    await asyncio.sleep(2)
    rtt = {"idle broker": await round_trips(url, context, signers)}
    figures = {"idle broker": await measure(pid, args.window)}
    ready, tasks = [], []
    started = time.monotonic()
    for _ in range(args.hosts):  # in batches, as hosts do not all start at once
        tasks.append(asyncio.create_task(idle_host(url, context, signers, ready)))
        if len(tasks) % 50 == 0:
            await asyncio.sleep(0.05)
    while len(ready) < args.hosts:
        failed = [t for t in tasks if t.done() and t.exception()]
        if failed:
            raise failed[0].exception()
        await asyncio.sleep(0.1)
    connect_seconds = time.monotonic() - started
    figures[f"{args.hosts} idle hosts"] = await measure(pid, args.window)
    rtt[f"{args.hosts} idle hosts"] = await round_trips(url, context, signers)
    alive = sum(1 for t in tasks if not t.done())
    for connection in ready:
        connection.close()
    return figures, rtt, connect_seconds, alive


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--hosts", type=int, default=1000)
    parser.add_argument("--window", type=float, default=60, help="seconds measured in each state")
    parser.add_argument("--port", type=int, default=24722)
    args = parser.parse_args()
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, max(soft, args.hosts + 1024)), hard))
    with tempfile.TemporaryDirectory(prefix="dravnok-broker-bench-") as folder:
        os.chmod(folder, 0o755)  # run as root, the page server's workers (www-data) must reach the state folder
        state = os.path.join(folder, "state")
        subprocess.run([os.path.join(REPO, "scripts/support-server.sh"), "--public-name", "localhost", "--state",
                        state, "--nats-port", str(args.port), "--ws-port", str(args.port + 1), "--prepare-only"], check=True, capture_output=True)
        broker = subprocess.Popen(["nats-server", "-c", os.path.join(state, "etc/nats.conf")])
        try:
            figures, rtt, connect_seconds, alive = asyncio.run(run(args, state, broker.pid))
        finally:
            broker.terminate()
            broker.wait()
    version = subprocess.run(["nats-server", "--version"], capture_output=True, text=True).stdout.strip()
    print(f"{version}, TLS, operator mode; {args.window:.0f} s measured in each state, pings every 30 s")
    for name, f in figures.items():
        print(f"  {name:>16}: RSS {f['rss_mib']} MiB (peak {f['peak_mib']}), CPU {f['cpu_percent']} % of a core; "
              f"round trip between two clients {rtt[name]}")
    print(f"  {args.hosts} hosts connected in {connect_seconds:.1f} s; still connected at the end: {alive}")
    return 0 if alive == args.hosts else 1


if __name__ == "__main__":
    sys.exit(main())
