#!/usr/bin/env python3
"""Runs remote-helper's three clipboard modes against a real clipboard."""
import os
import struct
import subprocess
import time
import unittest
import zlib

import helper_program
from private_xvfb import PrivateXvfb


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def pattern(x, y):
    return ((x * 37) & 255, (y * 59) & 255, (x * y) & 255, 255 if x < 20 else 40 + y)


EXPECTED = [[pattern(x, y) for x in range(40)] for y in range(30)]


def make_png():
    """A 40x30 8-bit RGBA PNG of the pattern."""
    rows = b"".join(b"\0" + b"".join(bytes(p) for p in row) for row in EXPECTED)
    return b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", 40, 30, 8, 6, 0, 0, 0)) + \
        png_chunk(b"IDAT", zlib.compress(rows)) + png_chunk(b"IEND", b"")


def make_bmp():
    """The pattern as a 32-bit bottom-up BMP file, as other programs offer it."""
    rows = b"".join(bytes((p[2], p[1], p[0], p[3])) for row in reversed(EXPECTED) for p in row)
    dib = struct.pack("<IiiHHIIiiII", 40, 40, 30, 1, 32, 0, len(rows), 0, 0, 0, 0) + rows
    return b"BM" + struct.pack("<IHHI", 14 + len(dib), 0, 0, 54) + dib


def decode_png(path):
    """Rows of RGBA tuples of an 8-bit RGB or RGBA PNG, not interlaced."""
    with open(path, "rb") as f:
        data = f.read()
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        if kind == b"IHDR":
            width, height, _, colour = struct.unpack(">IIBB", data[pos + 8:pos + 18])
        idat += data[pos + 8:pos + 8 + length] if kind == b"IDAT" else b""
        pos += 12 + length
    n = 4 if colour == 6 else 3
    raw, stride, rows, previous = zlib.decompress(idat), width * n, [], bytearray(width * n)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a, b = line[i - n] if i >= n else 0, previous[i]
            c = previous[i - n] if i >= n else 0
            p = a + b - c
            paeth = a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c) else b if abs(p - b) <= abs(p - c) else c
            line[i] = (line[i] + [0, a, b, (a + b) // 2, paeth][kind]) & 255
        rows.append([tuple(line[x * n:(x + 1) * n]) + ((255,) if n == 3 else ()) for x in range(width)])
        previous = line
    return rows


class ClipboardModes(unittest.TestCase):
    def setUp(self):
        self.dir = helper_program.folder(self)[0]
        self.xclip = None
        if not helper_program.emulated():
            # A private X server: the clipboard is shared by every client of a display.
            xvfb = PrivateXvfb("640x480").__enter__()
            self.addCleanup(xvfb.__exit__, None, None, None)
            os.environ["DISPLAY"] = xvfb.name
        self.addCleanup(self.xclip_stop)

    def helper(self, mode, name, code):
        path = os.path.join(self.dir, name)
        result = helper_program.run(mode, path, *([os.path.join(self.dir, "out.png")] if mode == "--clip-echo"
                                                  else []), timeout=60, cwd=self.dir)
        err = result.stderr.decode("utf-8")
        self.assertEqual(result.returncode, code, err)
        return err, path

    def put(self, name, data, target=None):
        with open(os.path.join(self.dir, name), "wb") as f:
            f.write(data)
        if target:  # another X client takes the clipboard (under Wine, the Windows clipboard follows it)
            self.xclip_stop()
            self.xclip = subprocess.Popen(["xclip", "-selection", "clipboard", "-t", target, "-i", "-quiet"],
                                          stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.xclip.stdin.write(data)
            self.xclip.stdin.close()
            time.sleep(0.5)

    def xclip_stop(self):
        if self.xclip:
            self.xclip.terminate()
            self.xclip.wait()

    def test_the_modes_place_read_and_echo_images_and_refuse_what_is_not_one(self):
        self.put("in.png", make_png())
        self.assertIn("OK", self.helper("--clip-echo", "in.png", 0)[0])
        self.assertEqual(decode_png(os.path.join(self.dir, "out.png")), EXPECTED)
        self.assertEqual(self.helper("--clip-selftest", "in.png", 0)[0],
                         "clip-selftest: OK \u2014 CF_DIB 40x30 on the clipboard\n")
        for mode in ("--clip-echo", "--clip-selftest"):
            self.assertIn("cannot open", self.helper(mode, "missing.png", 2)[0])

        # Another client's text is no image, and is reported cut to 40 bytes.
        text = "dravnok clip text \u00e9\U0001F600 and more than forty bytes of it"
        self.put("text.txt", text.encode("utf-8"), "UTF8_STRING")
        self.assertIn("FAIL", self.helper("--clip-selftest", "text.txt", 10)[0])
        err, path = self.helper("--clip-readtest", "none.png", 10)
        self.assertIn(": %s\u2026\n" % text.encode("utf-8")[:40].decode("utf-8"), err)
        self.assertFalse(os.path.exists(path))

        # A 32-bit bitmap with alpha from another client is read as the same pixels.
        self.put("in.bmp", make_bmp(), "image/bmp")
        err, path = self.helper("--clip-readtest", "read.png", 0)
        self.assertEqual(decode_png(path), EXPECTED)
        self.assertIn("cannot write", self.helper("--clip-readtest", "no-such-folder/x.png", 2)[0])


if __name__ == "__main__":
    helper_program.main()
