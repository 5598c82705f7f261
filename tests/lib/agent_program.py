"""remote-agent under test with a stand-in helper, as its script tests run it: the script is started as
`<script> --agent PATH --helper PATH [--emulator WINE] [unittest args]` and calls main()."""
import argparse
import os
import sys
import unittest

agent = helper = None
emulator = []


def native(path):
    """A path as the agent's platform writes it (Wine maps drive Z: to /)."""
    return "Z:" + str(path).replace("/", "\\") if emulator else str(path)


def main():
    global agent, helper, emulator
    parser = argparse.ArgumentParser()
    parser.add_argument("--agent", required=True)
    parser.add_argument("--helper", required=True)
    parser.add_argument("--emulator", default="")
    args, rest = parser.parse_known_args()
    agent, helper = os.path.abspath(args.agent), os.path.abspath(args.helper)
    emulator = [args.emulator] if args.emulator else []
    unittest.main(module="__main__", argv=[sys.argv[0], "-v", *rest])
