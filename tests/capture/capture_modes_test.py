#!/usr/bin/env python3
"""Runs remote-helper's --selftest and --probe against a real display.

Linux: an Xorg server with two XRandR monitors side by side, its root window
painted in one colour. Windows (under Wine): the X display the test stage
provides, read through GDI (Wine has no desktop duplication).
"""
import os
import re
import shutil
import sys
import unittest

import helper_program
from bitmap import read_bmp


TIMEOUT = 120
COLOUR = (0xFF, 0x80, 0x00)  # R, G, B: every channel different


def paint_root(env, colour):
    helper_program.paint(env, "#%02x%02x%02x" % colour)


class Modes(unittest.TestCase):
    def setUp(self):
        self.dir = helper_program.folder(self)[0]
        self.env = dict(os.environ, **getattr(self, "display_env", {}))

    def run_helper(self, *args, env=None):
        return helper_program.run(*args, timeout=TIMEOUT, cwd=self.dir, env=env or self.env, text=True)

    def check_picture(self, name, width, height):
        # Row order and padding are left to the unit test of the bitmap writer.
        bmp_width, bmp_height, pixel = read_bmp(os.path.join(self.dir, name))
        self.assertEqual((bmp_width, bmp_height), (width, height))
        wrong = [(x, y) for y in range(0, height, 7) for x in range(0, width, 7) if pixel(x, y) != COLOUR]
        self.assertEqual(wrong[:5], [], f"{len(wrong)} pixels differ from the picture")


@unittest.skipIf(sys.platform != "linux", "Linux only")
class X11Modes(Modes):
    """Two XRandR monitors, A at 0,0 and B at 1920,0."""

    @classmethod
    def setUpClass(cls):
        if helper_program.emulated():
            raise unittest.SkipTest("the Windows build is tested against Wine's display")
        from two_monitor_display import TwoMonitorDisplay
        try:
            cls.display = TwoMonitorDisplay().__enter__()
        except Exception as error:  # no Xorg on this machine
            raise unittest.SkipTest(f"no two-monitor display: {error}")
        cls.display_env = {"DISPLAY": cls.display.name}

    @classmethod
    def tearDownClass(cls):
        cls.display.__exit__(None, None, None)

    def test_selftest_and_probe_on_a_picture_a_black_screen_and_no_display(self):
        paint_root(self.env, COLOUR)
        result = self.run_helper("--selftest")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(result.stderr.startswith("selftest: capture 1920x1080 (origin 0,0)\n"), result.stderr)
        self.check_picture("selftest.bmp", 1920, 1080)
        result = self.run_helper("--probe")
        self.assertEqual(result.returncode, 0, result.stderr)
        pattern = re.compile(r"^adapter 0 '(.*)' output (\d) attached=1 desc=1920x1080 tex=1920x1080 "
                             r"brightness=(\d+\.\d) <== REAL DESKTOP$")
        self.assertEqual([pattern.match(line).group(2) for line in result.stderr.splitlines()], ["0", "1"])

        paint_root(self.env, (0, 0, 0))
        result = self.run_helper("--selftest", "black.bmp")
        self.assertEqual(result.returncode, 10, result.stderr)
        self.assertIn("average brightness = 0.0 / 255  (BLACK", result.stderr)
        self.assertEqual(self.run_helper("--probe").stderr.count("brightness=0.0 (black)"), 2)

        no_display = dict(self.env, DISPLAY=":1999")
        self.assertEqual(self.run_helper("--selftest", env=no_display).returncode, 2)
        self.assertEqual(self.run_helper("--probe", env=no_display).stderr, "probe: XOpenDisplay failed\n")


class WineModes(Modes):
    """The Windows program under Wine: GDI capture of the X display."""

    def setUp(self):
        if not helper_program.emulated():
            self.skipTest("runs the Windows build")
        super().setUp()
        if shutil.which("xsetroot") and os.environ.get("DISPLAY"):
            paint_root(self.env, COLOUR)

    def test_selftest_reads_the_desktop_through_gdi_and_probe_finds_no_duplication(self):
        result = self.run_helper("--selftest", "wine.bmp")
        self.assertIn(result.returncode, (0, 10), result.stderr)
        match = re.match(r"selftest: capture (\d+)x(\d+) \(origin 0,0\)\n", result.stderr)
        self.assertTrue(match, result.stderr)
        if result.returncode == 0:
            self.check_picture("wine.bmp", int(match.group(1)), int(match.group(2)))
        result = self.run_helper("--probe")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertRegex(result.stderr, r"adapter 0 '[^']*' output 0 attached=1 \d+x\d+: DuplicateOutput "
                                        r"hr=0x80004001\n")

if __name__ == "__main__":
    helper_program.main()
