#!/usr/bin/env python3
"""Runs remote-helper's three clipboard modes against a real clipboard."""
import os
import shutil
import struct
import subprocess
import tempfile
import time
import unittest

import helper_program
from private_xvfb import PrivateXvfb
import zlib

TIMEOUT = 60


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def make_png(width, height, pixel):
    """An 8-bit RGBA PNG; pixel(x, y) gives (r, g, b, a)."""
    rows = b"".join(b"\0" + b"".join(bytes(pixel(x, y)) for x in range(width)) for y in range(height))
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) + png_chunk(b"IDAT", zlib.compress(rows)) + \
        png_chunk(b"IEND", b"")


def decode_png(data):
    """(width, height, rows of RGBA tuples) of an 8-bit RGB or RGBA PNG."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and colour in (2, 6) and interlace == 0
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    channels = 4 if colour == 6 else 3
    raw, stride = zlib.decompress(idat), width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[x * channels:(x + 1) * channels]) + ((255,) if channels == 3 else ())
                     for x in range(width)])
        previous = line
    return width, height, rows


def make_bmp(width, height, pixel):
    """A 32-bit bottom-up BMP file."""
    rows = b"".join(b"".join(bytes((p[2], p[1], p[0], p[3])) for p in (pixel(x, y) for x in range(width)))
                    for y in reversed(range(height)))
    dib = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 32, 0, len(rows), 0, 0, 0, 0) + rows
    return b"BM" + struct.pack("<IHHI", 14 + len(dib), 0, 0, 54) + dib


def pattern(x, y):
    return ((x * 37) & 255, (y * 59) & 255, (x * y) & 255, 255 if x < 20 else 40 + y)


class ClipboardModes(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="dravnok-clip-")
        cls.xvfb = None
        if not helper_program.emulated():
            # A private X server: the clipboard is shared by every client of a display.
            cls.xvfb = PrivateXvfb("640x480").__enter__()
            os.environ["DISPLAY"] = cls.xvfb.name
        cls.png = os.path.join(cls.dir, "in.png")
        with open(cls.png, "wb") as f:
            f.write(make_png(40, 30, pattern))

    @classmethod
    def tearDownClass(cls):
        if cls.xvfb:
            cls.xvfb.__exit__(None, None, None)
        shutil.rmtree(cls.dir, ignore_errors=True)

    def run_helper(self, *args):
        result = helper_program.run(*args, timeout=TIMEOUT, cwd=self.dir)
        return result.returncode, result.stderr.decode("utf-8")

    def path(self, name):
        return os.path.join(self.dir, name)

    def xclip_put(self, target, data):
        """Another X client takes the clipboard (under Wine, the Windows clipboard follows it)."""
        self.xclip_stop()
        # In the foreground, so that it ends with the test and holds none of our pipes.
        self.xclip = subprocess.Popen(["xclip", "-selection", "clipboard", "-t", target, "-i", "-quiet"],
                                      stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.xclip.stdin.write(data)
        self.xclip.stdin.close()
        time.sleep(0.5)

    def xclip_stop(self):
        if getattr(self, "xclip", None):
            self.xclip.terminate()
            self.xclip.wait()
            self.xclip = None

    def tearDown(self):
        self.xclip_stop()

    def test_echo_round_trips_the_pixels(self):
        out = self.path("echo.png")
        code, err = self.run_helper("--clip-echo", self.png, out)
        self.assertEqual(code, 0, err)
        size = os.path.getsize(self.png)
        self.assertRegex(err, r"^clip-echo: OK \u2014 set %d-byte PNG, read back \d+-byte PNG\n$" % size)
        with open(out, "rb") as f:
            width, height, rows = decode_png(f.read())
        self.assertEqual((width, height), (40, 30))
        self.assertEqual(rows, [[pattern(x, y) for x in range(40)] for y in range(30)])

        code, err = self.run_helper("--clip-echo", self.path("missing.png"), out)
        self.assertEqual((code, err), (2, "clip-echo: cannot open %s\n" % self.path("missing.png")))

    def test_selftest_places_the_image_and_rejects_what_is_not_one(self):
        code, err = self.run_helper("--clip-selftest", self.png)
        self.assertEqual((code, err), (0, "clip-selftest: OK \u2014 CF_DIB 40x30 on the clipboard\n"))

        text = self.path("text.txt")
        with open(text, "w") as f:
            f.write("just some words")
        # First nobody owns the clipboard (the helper's text left with it), then another client's text.
        for owner in (None, b"some text"):
            if owner:
                self.xclip_put("UTF8_STRING", owner)
            code, err = self.run_helper("--clip-selftest", text)
            self.assertEqual(code, 10, err)
            self.assertEqual(err, "clip-selftest: %s does not look like a PNG\n"
                             "clip-selftest: FAIL \u2014 no CF_DIB on the clipboard\n" % text)

        code, err = self.run_helper("--clip-selftest", self.path("missing.png"))
        self.assertEqual((code, err), (2, "clip-selftest: cannot open %s\n" % self.path("missing.png")))

    def test_readtest_reports_text_and_writes_the_image(self):
        expected = "dravnok clip text \u00e9\U0001F600 and more than forty bytes of it"
        self.xclip_put("UTF8_STRING", expected.encode("utf-8"))
        expected = expected.encode("utf-8")[:40].decode("utf-8") + "\u2026"
        code, err = self.run_helper("--clip-readtest", self.path("none.png"))
        self.assertEqual(code, 10, err)
        self.assertEqual(err, "clip-readtest: text on clipboard: %s\n"
                         "clip-readtest: no image on the clipboard (or unsupported format)\n" % expected)
        self.assertFalse(os.path.exists(self.path("none.png")))

        # A bitmap, as other programs offer it; 32 bits with alpha.
        self.xclip_put("image/bmp", make_bmp(40, 30, pattern))
        out = self.path("read.png")
        code, err = self.run_helper("--clip-readtest", out)
        self.assertEqual(code, 0, err)
        self.assertEqual(err, "clip-readtest: text on clipboard: (none)\n"
                         "clip-readtest: OK \u2014 wrote %d-byte PNG to %s\n" % (os.path.getsize(out), out))
        with open(out, "rb") as f:
            self.assertEqual(decode_png(f.read())[2], [[pattern(x, y) for x in range(40)] for y in range(30)])

        unwritable = os.path.join(self.dir, "no-such-folder", "x.png")
        code, err = self.run_helper("--clip-readtest", unwritable)
        self.assertEqual(code, 2, err)
        self.assertTrue(err.endswith("clip-readtest: cannot write %s\n" % unwritable), err)


if __name__ == "__main__":
    helper_program.main()
