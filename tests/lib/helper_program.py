"""The program under test, as every script test runs it: the script is started as
`<script> --helper PATH [--agent PATH] [--emulator WINE] [unittest args]` and calls main(). remote-agent's
tests give it a stand-in helper that writes the commands it gets to FAKE_HELPER_RECORD."""
import argparse
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

path = agent = None
emulator = []


def emulated():
    """True when the program is a Windows build run under an emulator."""
    return bool(emulator)


def native(file):
    """A path as the program's platform writes it (Wine maps drive Z: to /)."""
    return "Z:" + str(file).replace("/", "\\") if emulator else str(file)


def command(*args, program=None):
    return [*emulator, program or path, *args]


def folder(test, copy=False):
    """A temporary folder removed after the test, and the program's path (with copy, its copy there)."""
    where = tempfile.mkdtemp(prefix="dravnok-test-")
    test.addCleanup(shutil.rmtree, where, True)
    return where, shutil.copy2(path, os.path.join(where, os.path.basename(path))) if copy else path


def display_env(test, size="1920x1080"):
    """The environment of the display the program shows on: the test stage's under an emulator (Wine's desktop lives
    on the display its server started with), else an Xvfb of the test's own."""
    if emulated():
        return dict(os.environ)
    from private_xvfb import PrivateXvfb
    xvfb = PrivateXvfb(size).__enter__()
    test.addCleanup(xvfb.__exit__)
    return dict(os.environ, DISPLAY=xvfb.name)


def paint(env, colour):
    """The root window in one colour, "#rrggbb"."""
    subprocess.run(["xsetroot", "-solid", colour], env=env, check=True, timeout=30)


def run(*args, program=None, stdin=None, timeout=60, retries=3, **kwargs):
    # Wine under load now and then loses its server connection (it says so,
    # or its process is killed): such a run tells nothing, so it runs again.
    for _ in range(retries if emulated() else 1):
        result = subprocess.run(command(*args, program=program), input=stdin, capture_output=True, timeout=timeout,
                                **kwargs)
        stderr = result.stderr if isinstance(result.stderr, bytes) else result.stderr.encode()
        if b"wine client error" not in stderr and result.returncode >= 0:
            break
    return result


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_agent(record, *args, env=(), **popen):
    """remote-agent with `args` and the stand-in helper, which records its commands in `record`."""
    env = dict(os.environ, FAKE_HELPER_RECORD=native(record), **dict(env))
    return subprocess.Popen([*emulator, agent, "--helper", native(path), "--viewer-name", "Ann", *args], text=True,
                            stdout=subprocess.PIPE, env=env, **popen)


def recorded(record):
    """The stand-in helper's commands so far, and "exit" where it ended."""
    if not os.path.exists(record):
        return []
    with open(record) as f:
        return [json.loads(line) if line.startswith("{") else line.strip() for line in f]


def wait_for(test, predicate, what, timeout=30):
    deadline = time.monotonic() + timeout
    while not predicate():
        test.assertLess(time.monotonic(), deadline, what)
        time.sleep(0.05)


def main():
    global path, agent, emulator
    parser = argparse.ArgumentParser()
    parser.add_argument("--helper", required=True)
    parser.add_argument("--agent")
    parser.add_argument("--emulator", default="")
    args, rest = parser.parse_known_args()
    path, agent = os.path.abspath(args.helper), args.agent and os.path.abspath(args.agent)
    emulator = [args.emulator] if args.emulator else []
    unittest.main(module="__main__", argv=[sys.argv[0], "-v", *rest])
