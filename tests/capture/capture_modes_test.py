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
import tempfile
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
    if pattern:
        xbm = os.path.join(workdir, "tile.xbm")
        write_xbm(xbm)
        args = ["-bitmap", xbm, "-fg", "#%02x%02x%02x" % FOREGROUND, "-bg", "#%02x%02x%02x" % BACKGROUND]
    else:
        args = ["-solid", "#000000"]
    subprocess.run(["xsetroot", *args], env=env, check=True, timeout=30)


def expected_pixel(x, y):
    return FOREGROUND if TILE[y % 16][x % 16] else BACKGROUND


class Helper:
    def __init__(self, env):
        self.env = env
        self.dir = tempfile.mkdtemp(prefix="dravnok-capture-")

    def run(self, *args):
        return helper_program.run(*args, timeout=TIMEOUT, cwd=self.dir,
                              env=self.env, text=True)

    def close(self):
        shutil.rmtree(self.dir, ignore_errors=True)


def check_picture(test, path, width, height, origin_x=0):
    bmp_width, bmp_height, pixel = read_bmp(path)
    test.assertEqual((bmp_width, bmp_height), (width, height))
    wrong = [(x, y) for y in range(0, height, 3) for x in range(0, width, 3)
             if pixel(x, y) != expected_pixel(origin_x + x, y)]
    test.assertEqual(wrong[:5], [], f"{len(wrong)} pixels differ from the picture")


@unittest.skipIf(sys.platform != "linux", "Linux only")
class X11Modes(unittest.TestCase):
    """Two XRandR monitors, A at 0,0 and B at 1920,0."""

    @classmethod
    def setUpClass(cls):
        if helper_program.emulated():
            raise unittest.SkipTest("the Windows build is tested against Wine's display")
        from two_monitor_display import TwoMonitorDisplay
        try:
            cls.display = TwoMonitorDisplay()
            cls.display.__enter__()
        except Exception as error:  # no Xorg on this machine
            raise unittest.SkipTest(f"no two-monitor display: {error}")
        cls.env = dict(os.environ, DISPLAY=cls.display.name)

    @classmethod
    def tearDownClass(cls):
        cls.display.__exit__(None, None, None)

    def setUp(self):
        self.helper = Helper(self.env)
        paint_root(self.env, self.helper.dir)

    def tearDown(self):
        self.helper.close()

    def test_selftest_writes_the_primary_monitor_and_probe_prints_each_monitor(self):
        result = self.helper.run("--selftest")
        self.assertEqual(result.returncode, 0, result.stderr)
        lines = result.stderr.splitlines()
        self.assertEqual(lines[0], "selftest: capture 1920x1080 (origin 0,0)")
        self.assertRegex(lines[1], r"^selftest: average brightness = \d+\.\d / 255  \(REAL IMAGE - capture works\)$")
        self.assertEqual(lines[2], "selftest: wrote selftest.bmp (1920x1080)")
        check_picture(self, os.path.join(self.helper.dir, "selftest.bmp"), 1920, 1080)

        result = self.helper.run("--probe")
        self.assertEqual(result.returncode, 0, result.stderr)
        pattern = re.compile(r"^adapter 0 '(.*)' output (\d) attached=1 desc=1920x1080 tex=1920x1080 "
                             r"brightness=(\d+\.\d) <== REAL DESKTOP$")
        lines = result.stderr.splitlines()
        self.assertEqual(len(lines), 2, result.stderr)
        self.assertEqual([pattern.match(line).group(2) for line in lines], ["0", "1"])

    def test_black_screen_is_reported_as_black(self):
        paint_root(self.env, self.helper.dir, pattern=False)
        result = self.helper.run("--selftest", "black.bmp")
        self.assertEqual(result.returncode, 10, result.stderr)
        self.assertIn("average brightness = 0.0 / 255  (BLACK - capture still broken)", result.stderr)
        self.assertTrue(result.stderr.splitlines()[-1].startswith("selftest: wrote black.bmp"))
        probe = self.helper.run("--probe")
        self.assertEqual(probe.stderr.count("brightness=0.0 (black)"), 2, probe.stderr)

    def test_no_display_fails_init(self):
        helper = Helper(dict(self.env, DISPLAY=":1999"))
        try:
            result = helper.run("--selftest")
            self.assertEqual(result.returncode, 2)
            self.assertEqual(result.stderr, "selftest: capture init FAILED: cannot open the X display\n")
            self.assertEqual(helper.run("--probe").stderr, "probe: XOpenDisplay failed\n")
        finally:
            helper.close()


class WineModes(unittest.TestCase):
    """The Windows program under Wine: GDI capture of the X display."""

    def setUp(self):
        if not helper_program.emulated():
            self.skipTest("runs the Windows build")
        self.helper = Helper(dict(os.environ))
        if shutil.which("xsetroot") and os.environ.get("DISPLAY"):
            paint_root(self.helper.env, self.helper.dir)

    def tearDown(self):
        self.helper.close()

    def test_selftest_reads_the_desktop_through_gdi(self):
        result = self.helper.run("--selftest", "wine.bmp")
        self.assertIn(result.returncode, (0, 10), result.stderr)
        match = re.match(r"selftest: capture (\d+)x(\d+) \(origin 0,0\)\n", result.stderr)
        self.assertTrue(match, result.stderr)
        width, height = int(match.group(1)), int(match.group(2))
        self.assertIn(f"selftest: wrote wine.bmp ({width}x{height})\n", result.stderr)
        bmp_width, bmp_height, _ = read_bmp(os.path.join(self.helper.dir, "wine.bmp"))
        self.assertEqual((bmp_width, bmp_height), (width, height))
        if result.returncode == 0:
            check_picture(self, os.path.join(self.helper.dir, "wine.bmp"), width, height)

    def test_probe_reports_that_duplication_is_not_implemented(self):
        result = self.helper.run("--probe")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertRegex(result.stderr, r"adapter 0 '[^']*' output 0 attached=1 \d+x\d+: DuplicateOutput "
                                        r"hr=0x80004001\n")


if __name__ == "__main__":
    helper_program.main()
