#!/usr/bin/env python3
"""Writes small Photoshop files for the bundled sample and the test fixtures.

Usage: tools/make_psd.py OUTPUT.psd KIND WIDTH HEIGHT
KIND: rgb8, rgba8, grey8, grey16, rgb16, indexed8
The pixels are deterministic gradients, so tests can predict every value.
"""
import struct
import sys

MODES = {"grey": 1, "indexed": 2, "rgb": 3}


def channel_value(kind, channel, x, y, width, height):
    if kind.startswith("indexed"):
        return (x + y) % 16
    if channel == 3:  # alpha
        return (x * 255) // max(width - 1, 1)
    base = [(x * 255) // max(width - 1, 1), (y * 255) // max(height - 1, 1), ((x + y) * 7) % 256][channel]
    return base


def make(kind, width, height):
    channels = {"rgb8": 3, "rgba8": 4, "grey8": 1, "grey16": 1, "rgb16": 3, "indexed8": 1}[kind]
    depth = 16 if kind.endswith("16") else 8
    mode = MODES[kind.rstrip("0123456789").replace("rgba", "rgb")]
    out = bytearray()
    out += b"8BPS" + struct.pack(">H6xHIIHH", 1, channels, height, width, depth, mode)
    if mode == 2:
        palette = bytearray(768)
        for i in range(16):  # 16 distinct colours, stored planar: all reds, greens, blues
            palette[i] = (i * 17) % 256
            palette[256 + i] = (255 - i * 17) % 256
            palette[512 + i] = (i * 40) % 256
        out += struct.pack(">I", len(palette)) + palette
    else:
        out += struct.pack(">I", 0)
    out += struct.pack(">I", 0)  # image resources
    out += struct.pack(">I", 0)  # layers and masks
    out += struct.pack(">H", 0)  # raw image data, planar
    for c in range(channels):
        for y in range(height):
            for x in range(width):
                v = channel_value(kind, c if channels > 1 else 0, x, y, width, height)
                if depth == 16:
                    out += struct.pack(">H", v * 257)
                else:
                    out.append(v)
    return bytes(out)


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    path, kind, width, height = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    with open(path, "wb") as f:
        f.write(make(kind, width, height))


if __name__ == "__main__":
    main()
