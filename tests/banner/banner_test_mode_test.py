#!/usr/bin/env python3
"""Runs remote-helper --banner-test and looks for the banner in its bitmap."""
import os
import shutil
import tempfile
import unittest

import helper_program
from bitmap import read_bmp

TIMEOUT = 120

CARD = (0x18, 0x1A, 0x20)
DOT = (0x4C, 0x9A, 0xF5)


def near(a, b, tolerance):
    return all(abs(x - y) <= tolerance for x, y in zip(a, b))


class BannerTestMode(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="dravnok-banner-")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def run_banner_test(self, name):
        env = dict(os.environ, DRAVNOK_BANNER_NAME=name)
        result = helper_program.run("--banner-test", "out.bmp", timeout=TIMEOUT, cwd=self.dir, env=env)
        err = result.stderr.decode(errors="replace")
        # 10 is the capture's verdict on a black screen; the banner alone
        # does not brighten it enough, and the picture is written all the same.
        self.assertIn(result.returncode, (0, 10), err)
        self.assertIn("selftest: wrote out.bmp (", err)
        return read_bmp(os.path.join(self.dir, "out.bmp"))

    def check_banner(self, bitmap):
        """Finds the banner on its middle row; returns its measured text width."""
        width, height, pixel = bitmap
        middle = height - 78 + 42
        dots = [x for x in range(width) if near(pixel(x, middle), DOT, 6)]
        self.assertTrue(dots, "no status dot on the banner's middle row")
        # The dot is round, so the middle of its row is its centre, 44 px
        # right of the banner's left edge.
        origin = round((dots[0] + dots[-1]) / 2 - 44)
        self.assertTrue(near(pixel(origin + 25, middle), CARD, 8), pixel(origin + 25, middle))
        self.assertFalse(near(pixel(origin + 19, middle), CARD, 8), pixel(origin + 19, middle))
        # Centred: origin = (width - (T + 102)) // 2, so T is known up to the
        # pixel that the integer division drops; the card ends at T + 80.
        for text_width in (width - 2 * origin - 102, width - 2 * origin - 101):
            end = origin + text_width + 80
            if near(pixel(end - 4, middle), CARD, 8) and not near(pixel(end + 3, middle), CARD, 8):
                return text_width
        self.fail("the card's right end does not match a centred banner")

    def test_banner_sits_at_the_bottom_centre_and_grows_with_the_name(self):
        short = self.check_banner(self.run_banner_test("Ann"))
        long = self.check_banner(self.run_banner_test("Maximilian Alexander von Oberhausen-Wittelsbach"))
        self.assertGreater(long, short + 150)


if __name__ == "__main__":
    helper_program.main()
