#!/usr/bin/env python3
"""Runs remote-helper's --selftest-encode and --bench against a display.

Linux: a private Xvfb at 1920x1080 whose root window is painted first.
Windows (under Wine): the test stage's display, read through GDI; Wine has
no Media Foundation H.264 encoder, so both modes run on OpenH264.
"""
import json
import unittest

import helper_program

TIMEOUT = 180


def run(test, env, *args):
    return helper_program.run(*args, timeout=TIMEOUT, cwd=helper_program.folder(test)[0], env=env, text=True)


class EncodeModes(unittest.TestCase):
    def setUp(self):
        self.env = helper_program.display_env(self)
        if not helper_program.emulated():
            self.env.pop("DRAVNOK_REMOTE_HWENC", None)

    def test_a_picture_survives_encoding_a_black_screen_fails_and_bench_measures(self):
        helper_program.paint(self.env, "#4080c0")
        result = run(self, self.env, "--selftest-encode")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertRegex(result.stderr, r"DECODED \d+x\d+ brightness = \d+\.\d/255  \(REAL IMAGE")
        if helper_program.emulated():
            self.assertIn("selftest-encode: H.264 encoder = software\n", result.stderr)
        else:
            self.assertIn("capture 1920x1080, encode 1920x1080 (live scale)\n", result.stderr)

        bench = run(self, self.env, "--bench", "5")
        self.assertEqual(bench.returncode, 0, bench.stderr)
        figures = json.loads(bench.stdout)
        self.assertEqual({k: figures[k] for k in ("b", "seed", "eq")}, {"b": 1, "seed": 5, "eq": 0})
        self.assertGreater(figures["idr92"], figures["idr60"])
        self.assertGreater(figures["k92"], figures["k40"])
        self.assertGreater(figures["live"]["fps"], 0)
        if helper_program.emulated():
            return
        self.assertEqual((figures["disp"], figures["enc"]), ("1920x1080", "1920x1080"))

        helper_program.paint(self.env, "#000000")
        result = run(self, self.env, "--selftest-encode")
        self.assertEqual(result.returncode, 10, result.stderr)
        self.assertIn("NV12 luma avg = 16.0/255", result.stderr)

        env = dict(self.env, DISPLAY=":1999")
        self.assertEqual(run(self, env, "--selftest-encode").returncode, 2)
        bench = run(self, env, "--bench")
        self.assertEqual((bench.returncode, json.loads(bench.stdout)), (2, {"b": 0, "err": "capture init"}))

if __name__ == "__main__":
    helper_program.main()
