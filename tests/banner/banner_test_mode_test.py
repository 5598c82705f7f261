#!/usr/bin/env python3
"""Runs remote-helper --banner-test and looks for the banner in its bitmap."""
import os
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
        self.dir = helper_program.folder(self)[0]

    def run_banner_test(self, name):
        env = dict(os.environ, DRAVNOK_BANNER_NAME=name)
        result = helper_program.run("--banner-test", "out.bmp", timeout=TIMEOUT, cwd=self.dir, env=env)
        err = result.stderr.decode(errors="replace")
        # 10 is the capture's verdict on a black screen; the banner alone
        # does not brighten it enough, and the picture is written all the same.
        self.assertIn(result.returncode, (0, 10), err)
        return read_bmp(os.path.join(self.dir, "out.bmp"))

    def dot_centre(self, bitmap):
        """The x of the status dot's centre on the banner's middle row, with
        the card around it; where the card sits the window tests pin."""
        width, height, pixel = bitmap
        middle = height - 78 + 42
        dots = [x for x in range(width) if near(pixel(x, middle), DOT, 6)]
        self.assertTrue(dots, "no status dot on the banner's middle row")
        centre = (dots[0] + dots[-1]) / 2
        self.assertTrue(near(pixel(round(centre) - 19, middle), CARD, 8), pixel(round(centre) - 19, middle))
        return centre

    def test_banner_sits_at_the_bottom_centre_and_grows_with_the_name(self):
        # Centred, so a name that is wider by w moves the dot left by w / 2.
        short = self.dot_centre(self.run_banner_test("Ann"))
        long = self.dot_centre(self.run_banner_test("Maximilian Alexander von Oberhausen-Wittelsbach"))
        self.assertGreater(short - long, 75)


if __name__ == "__main__":
    helper_program.main()
