#!/usr/bin/env python3
"""Runs remote-helper --banner-test and looks for the banner in the screen picture it writes."""
import os
import unittest

import helper_program
from bitmap import read_bmp

CARD = (0x18, 0x1A, 0x20)
DOT = (0x4C, 0x9A, 0xF5)


def near(a, b, tolerance):
    return all(abs(x - y) <= tolerance for x, y in zip(a, b))


class BannerTestMode(unittest.TestCase):
    def dot_centre(self, name):
        """The x of the status dot's centre on the banner's middle row, with the card around it."""
        folder = helper_program.folder(self)[0]
        env = dict(os.environ, DRAVNOK_BANNER_NAME=name)
        result = helper_program.run("--banner-test", "out.bmp", timeout=120, cwd=folder, env=env)
        # 10 is the capture's verdict on a black screen; the banner alone
        # does not brighten it enough, and the picture is written all the same.
        self.assertIn(result.returncode, (0, 10), result.stderr.decode(errors="replace"))
        width, height, pixel = read_bmp(os.path.join(folder, "out.bmp"))
        middle = height - 78 + 42
        dots = [x for x in range(width) if near(pixel(x, middle), DOT, 6)]
        self.assertTrue(dots, f"no status dot on the banner's middle row ({len(name)} characters)")
        centre = round((dots[0] + dots[-1]) / 2)
        self.assertTrue(near(pixel(centre - 19, middle), CARD, 8), pixel(centre - 19, middle))
        return centre

    def test_banner_sits_at_the_bottom_centre_and_grows_with_the_name(self):
        # Centred, so a name that is wider by w moves the dot left by w / 2.
        long = self.dot_centre("Maximilian Alexander von Oberhausen-Wittelsbach")
        self.assertGreater(self.dot_centre("Ann") - long, 75)
        # Far wider than the 32767 pixels a picture or window may have:
        # shortened to the screen, not lost.
        self.dot_centre("W" * 4000)


if __name__ == "__main__":
    helper_program.main()
