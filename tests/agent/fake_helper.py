#!/usr/bin/env python3
"""Stands in for remote-helper: records its commands and answers an offer as it does; with
FAKE_HELPER_IGNORE_STOP set it hangs, outliving "stop" and the end of its input."""
import json
import os
import sys
import time


def emit(event):
    sys.stdout.write(json.dumps(event, separators=(",", ":"), sort_keys=True) + "\n")
    sys.stdout.flush()


record = open(os.environ["FAKE_HELPER_RECORD"], "a")
for line in sys.stdin:
    record.write(line)
    record.flush()
    command = json.loads(line)
    if command.get("cmd") == "offer":
        emit({"evt": "answer", "sdp": "answer-to:" + command["sdp"]})
        emit({"candidate": {"candidate": "candidate:1 1 udp 1 127.0.0.1 9 typ host", "sdpMLineIndex": 0,
                            "sdpMid": "0"}, "evt": "ice"})
    elif command.get("cmd") == "stop" and not os.environ.get("FAKE_HELPER_IGNORE_STOP"):
        break
if os.environ.get("FAKE_HELPER_IGNORE_STOP"):
    time.sleep(3600)
record.write("exit\n")
