"""Reads the 24-bit bottom-up bitmaps that the helper's test modes write."""
import struct


def read_bmp(path):
    """(width, height, pixel(x, y) -> (r, g, b)) in top-down coordinates."""
    with open(path, "rb") as f:
        data = f.read()
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    stride = (3 * width + 3) & ~3
    if data[:2] != b"BM" or bits != 24 or height <= 0 or len(data) < offset + stride * height:
        raise ValueError("not a whole 24-bit bottom-up bitmap")

    def pixel(x, y):
        at = offset + (height - 1 - y) * stride + 3 * x
        b, g, r = data[at:at + 3]
        return (r, g, b)

    return width, height, pixel
