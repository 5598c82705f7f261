#!/usr/bin/env python3
"""Runs remote-helper's three clipboard modes against a real clipboard."""
import os
import struct
import subprocess
import time
import unittest
import zlib

import helper_program


# One column of RGBA pixels with varying alpha, so that any mix-up of rows,
# channels or alpha shows; one pixel wide, its rows unfilter without a left neighbour.
EXPECTED = [((y * 37) & 255, (y * 59) & 255, 255 - y, 255 if y < 10 else 40 + y) for y in range(30)]


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))


def make_png():
    rows = b"".join(b"\0" + bytes(p) for p in EXPECTED)
    return b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", struct.pack(">IIBBBBB", 1, 30, 8, 6, 0, 0, 0)) + \
        png_chunk(b"IDAT", zlib.compress(rows)) + png_chunk(b"IEND", b"")


def make_bmp():
    """The column as a 32-bit bottom-up BMP file, as other programs offer it."""
    rows = b"".join(bytes((p[2], p[1], p[0], p[3])) for p in reversed(EXPECTED))
    dib = struct.pack("<IiiHHIIiiII", 40, 1, 30, 1, 32, 0, len(rows), 0, 0, 0, 0) + rows
    return b"BM" + struct.pack("<IHHI", 14 + len(dib), 0, 0, 54) + dib


def decode_png(path):
    """The width, height, depth and colour type of a PNG one pixel wide, and its pixels."""
    with open(path, "rb") as f:
        data = f.read()
    pos, chunks = 8, {}
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        chunks[kind] = chunks.get(kind, b"") + data[pos + 8:pos + 8 + length]
        pos += 12 + length
    raw, pixels, above = zlib.decompress(chunks[b"IDAT"]), [], bytes(4)
    for y in range(0, len(raw), 5):
        # With nothing on the left, Sub adds nothing and Up, Average and Paeth (half) the pixel above.
        above = bytes((x + [0, 0, b, b // 2, b][raw[y]]) & 255 for x, b in zip(raw[y + 1:y + 5], above))
        pixels.append(tuple(above))
    return struct.unpack(">IIBB", chunks[b"IHDR"][:10]), pixels


class ClipboardModes(unittest.TestCase):
    def setUp(self):
        self.dir = helper_program.folder(self)[0]
        self.env = helper_program.display_env(self, "640x480")  # the clipboard is shared by a display's clients

    def helper(self, mode, name, code):
        path = os.path.join(self.dir, name)
        result = helper_program.run(mode, path, *([os.path.join(self.dir, "out.png")] if mode == "--clip-echo"
                                                  else []), timeout=60, cwd=self.dir, env=self.env)
        err = result.stderr.decode("utf-8")
        self.assertEqual(result.returncode, code, err)
        return err, path

    def test_the_modes_place_read_and_echo_images(self):
        with open(os.path.join(self.dir, "in.png"), "wb") as f:
            f.write(make_png())
        self.assertIn("OK", self.helper("--clip-echo", "in.png", 0)[0])
        self.assertEqual(decode_png(os.path.join(self.dir, "out.png")), ((1, 30, 8, 6), EXPECTED))
        self.assertIn("OK \u2014 CF_DIB 1x30", self.helper("--clip-selftest", "in.png", 0)[0])
        for mode in ("--clip-echo", "--clip-selftest"):
            self.assertIn("cannot open", self.helper(mode, "missing.png", 2)[0])

        # A 32-bit bitmap with alpha that another X client offers (under Wine,
        # the Windows clipboard follows it) is read as the same pixels.
        xclip = subprocess.Popen(["xclip", "-selection", "clipboard", "-t", "image/bmp", "-i", "-quiet"], env=self.env,
                                 stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(xclip.wait)
        self.addCleanup(xclip.terminate)
        xclip.stdin.write(make_bmp())
        xclip.stdin.close()
        time.sleep(0.5)
        err, path = self.helper("--clip-readtest", "read.png", 0)
        self.assertEqual(decode_png(path), ((1, 30, 8, 6), EXPECTED))


if __name__ == "__main__":
    helper_program.main()
