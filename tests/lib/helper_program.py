"""The remote-helper under test, as every script test runs it: the script is started as
`<script> --helper PATH [--emulator WINE] [unittest args]` and calls main()."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

path = None
emulator = []


def emulated():
    """True when the program is a Windows build run under an emulator."""
    return bool(emulator)


def command(*args, program=None):
    return [*emulator, program or path, *args]


def folder(test, copy=False):
    """A temporary folder removed after the test, and the program's path (with copy, its copy there)."""
    where = tempfile.mkdtemp(prefix="dravnok-test-")
    test.addCleanup(shutil.rmtree, where, True)
    return where, shutil.copy2(path, os.path.join(where, os.path.basename(path))) if copy else path


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


def main():
    global path, emulator
    parser = argparse.ArgumentParser()
    parser.add_argument("--helper", required=True)
    parser.add_argument("--emulator", default="")
    args, rest = parser.parse_known_args()
    path = os.path.abspath(args.helper)
    emulator = [args.emulator] if args.emulator else []
    unittest.main(module="__main__", argv=[sys.argv[0], "-v", *rest])
