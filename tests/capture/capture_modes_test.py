#!/usr/bin/env python3
"""Runs remote-helper's --selftest and --probe against a real display.

Linux: an Xorg server with two XRandR monitors side by side, showing a known
tiled picture on the root window. Windows (under Wine): the X display the
test stage provides, read through GDI (Wine has no desktop duplication).
"""
import os
import re
import shutil
import subprocess
import sys
import unittest

import helper_program
from bitmap import read_bmp


TIMEOUT = 120

# A 16x16 tile; the root window repeats it from the screen's origin.
TILE = [[(x * 3 + y * 5) % 7 < 3 for x in range(16)] for y in range(16)]
FOREGROUND = (0xFF, 0x80, 0x00)  # R, G, B
BACKGROUND = (0x20, 0x40, 0xC0)


def write_xbm(path):
    rows = []
    for row in TILE:
        value = sum(1 << x for x, bit in enumerate(row) if bit)
        rows.append(f"0x{value & 0xFF:02x}, 0x{value >> 8:02x}")
    with open(path, "w") as f:
        f.write("#define tile_width 16\n#define tile_height 16\n")
        f.write("static unsigned char tile_bits[] = {\n" + ",\n".join(rows) + "};\n")


def paint_root(env, workdir, pattern=True):
    args = ["-solid", "#000000"]
    if pattern:
        write_xbm(os.path.join(workdir, "tile.xbm"))
        args = ["-bitmap", os.path.join(workdir, "tile.xbm"), "-fg", "#%02x%02x%02x" % FOREGROUND,
                "-bg", "#%02x%02x%02x" % BACKGROUND]
    subprocess.run(["xsetroot", *args], env=env, check=True, timeout=30)


class Modes(unittest.TestCase):
    def setUp(self):
        self.dir = helper_program.folder(self)[0]
        self.env = dict(os.environ, **getattr(self, "display_env", {}))

    def run_helper(self, *args, env=None):
        return helper_program.run(*args, timeout=TIMEOUT, cwd=self.dir, env=env or self.env, text=True)


def check_picture(test, path, width, height, origin_x=0):
    bmp_width, bmp_height, pixel = read_bmp(path)
    test.assertEqual((bmp_width, bmp_height), (width, height))
    wrong = [(x, y) for y in range(0, height, 3) for x in range(0, width, 3)
             if pixel(x, y) != (FOREGROUND if TILE[y % 16][(origin_x + x) % 16] else BACKGROUND)]
    test.assertEqual(wrong[:5], [], f"{len(wrong)} pixels differ from the picture")


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
        paint_root(self.env, self.dir)
        result = self.run_helper("--selftest")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertTrue(result.stderr.startswith("selftest: capture 1920x1080 (origin 0,0)\n"), result.stderr)
        check_picture(self, os.path.join(self.dir, "selftest.bmp"), 1920, 1080)
        result = self.run_helper("--probe")
        self.assertEqual(result.returncode, 0, result.stderr)
        pattern = re.compile(r"^adapter 0 '(.*)' output (\d) attached=1 desc=1920x1080 tex=1920x1080 "
                             r"brightness=(\d+\.\d) <== REAL DESKTOP$")
        self.assertEqual([pattern.match(line).group(2) for line in result.stderr.splitlines()], ["0", "1"])

        paint_root(self.env, self.dir, pattern=False)
        result = self.run_helper("--selftest", "black.bmp")
        self.assertEqual(result.returncode, 10, result.stderr)
        self.assertIn("average brightness = 0.0 / 255  (BLACK", result.stderr)
        self.assertTrue(os.path.exists(os.path.join(self.dir, "black.bmp")))
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
            paint_root(self.env, self.dir)

    def test_selftest_reads_the_desktop_through_gdi_and_probe_finds_no_duplication(self):
        result = self.run_helper("--selftest", "wine.bmp")
        self.assertIn(result.returncode, (0, 10), result.stderr)
        match = re.match(r"selftest: capture (\d+)x(\d+) \(origin 0,0\)\n", result.stderr)
        self.assertTrue(match, result.stderr)
        width, height = int(match.group(1)), int(match.group(2))
        bmp_width, bmp_height, _ = read_bmp(os.path.join(self.dir, "wine.bmp"))
        self.assertEqual((bmp_width, bmp_height), (width, height))
        if result.returncode == 0:
            check_picture(self, os.path.join(self.dir, "wine.bmp"), width, height)
        result = self.run_helper("--probe")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertRegex(result.stderr, r"adapter 0 '[^']*' output 0 attached=1 \d+x\d+: DuplicateOutput "
                                        r"hr=0x80004001\n")

if __name__ == "__main__":
    helper_program.main()
