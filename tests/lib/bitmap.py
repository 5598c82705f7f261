"""Reads the 24-bit bottom-up bitmaps that the helper's test modes write."""
import struct


def read_bmp(path):
    """(width, height, pixel(x, y) -> (r, g, b)) in top-down coordinates."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"BM":
        raise ValueError("not a bitmap")
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    if bits != 24 or height <= 0:
        raise ValueError("unexpected bitmap format")
    stride = (3 * width + 3) & ~3
    if len(data) < offset + stride * height:
        raise ValueError("bitmap shorter than its rows")

    def pixel(x, y):
        at = offset + (height - 1 - y) * stride + 3 * x
        b, g, r = data[at:at + 3]
        return (r, g, b)

    return width, height, pixel
