#!/usr/bin/env python3
"""Writes small Photoshop files for the bundled sample and the test fixtures.

Usage: tools/make_psd.py OUTPUT.psd KIND WIDTH HEIGHT
KIND: rgb8, rgba8, grey8, grey16, rgb16, indexed8
The pixels are deterministic gradients, so tests can predict every value.

KIND cmyk8-layers, cmyk16-layers, lab8-layers or lab16-layers writes a
layered file instead: an opaque bottom layer, and above it one partly
transparent layer per blend mode of BLEND_STRIPS, each over a strip WIDTH
pixels wide of its own, in that order. Its merged image is psd-tools'
composite of those layers (so these kinds need python3-psd-tools).

KIND rgb8-rebuilt writes one opaque layer of the rgb8 gradient and a white
merged image that image resource 1057 marks as a placeholder, so that the
picture is rebuilt from the layer (and the converter says so).
"""
import struct
import sys

# The blend modes of the layered kinds' strips, left to right: the separable
# modes that psd-tools draws as the format does. (Its soft light picks a
# branch by the layer's colour rather than the backdrop's, and its vivid
# light is a mirrored hard mix.)
BLEND_STRIPS = ["norm", "mul ", "scrn", "over", "dark", "lite", "diff", "smud", "lbrn", "lddg",
                "hLit", "lLit", "pLit", "fsub", "fdiv", "hMix", "div ", "idiv"]

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


def layered_file(mode, depth, width, height, layers, merged, resources=b""):
    """A file of `layers` (bottom first: (left, right, blend key, opacity,
    planes), planes being transparency then each colour channel, as rows of
    fractions over [left, right)) and the merged colour planes `merged`."""
    colours = len(merged)

    def samples(plane):
        out = bytearray()
        for row in plane:
            for v in row:
                q = max(0, min(1, v))
                out += struct.pack(">H", round(q * 65535)) if depth == 16 else bytes([round(q * 255)])
        return bytes(out)

    records, data = bytearray(), bytearray()
    for left, right, key, opacity, planes in layers:
        records += struct.pack(">iiiiH", 0, left, height, right, len(planes))
        for index, plane in enumerate(planes):
            body = samples(plane)
            records += struct.pack(">hI", index - 1, len(body) + 2)
            data += struct.pack(">H", 0) + body
        records += b"8BIM" + key.encode() + bytes([opacity, 0, 0, 0])
        extra = struct.pack(">II", 0, 0) + b"\0\0\0\0"  # no mask, no blending ranges, empty name
        records += struct.pack(">I", len(extra)) + extra
    info = struct.pack(">H", len(layers)) + records + data
    if len(info) % 2:
        info += b"\0"
    out = bytearray(b"8BPS" + struct.pack(">H6xHIIHH", 1, colours, height, width, depth, mode))
    out += struct.pack(">II", 0, len(resources)) + resources  # colour mode data, image resources
    out += struct.pack(">II", len(info) + 8, len(info)) + info + struct.pack(">I", 0)
    out += struct.pack(">H", 0) + b"".join(samples(plane) for plane in merged)
    return bytes(out)


def make_layered(path, kind, strip, height):
    mode, colours = (4, 4) if kind.startswith("cmyk") else (9, 3)
    depth = 16 if "16" in kind else 8
    width = strip * len(BLEND_STRIPS)

    def plane(left, right, value):
        return [[value(x, y) for x in range(left, right)] for y in range(height)]

    # Colours spread over the range so that each mode's branches show; the
    # upper layers' transparency steps down across each strip.
    base = [plane(0, width, lambda x, y: 1.0)]
    base += [plane(0, width, lambda x, y, c=c: ((x * 53 + y * 97 + c * 71) % 256) / 255) for c in range(colours)]
    layers = [(0, width, "norm", 255, base)]
    for i, key in enumerate(BLEND_STRIPS):
        left, right = i * strip, (i + 1) * strip
        planes = [plane(left, right, lambda x, y: (255 - (x % strip) * 255 // max(strip, 2)) / 255)]
        planes += [plane(left, right, lambda x, y, c=c: ((x * 29 + y * 131 + c * 37 + 91) % 256) / 255)
                   for c in range(colours)]
        layers.append((left, right, key, 230, planes))
    blank = [plane(0, width, lambda x, y: 1.0) for _ in range(colours)]
    with open(path, "wb") as f:
        f.write(layered_file(mode, depth, width, height, layers, blank))

    import logging
    import warnings
    from psd_tools import PSDImage
    from psd_tools.composite import composite
    logging.disable(logging.CRITICAL)
    warnings.simplefilter("ignore")
    colour, _, _ = composite(PSDImage.open(path), color=1.0, alpha=0.0)
    merged = [[[float(colour[y, x, c]) for x in range(width)] for y in range(height)] for c in range(colours)]
    with open(path, "wb") as f:
        f.write(layered_file(mode, depth, width, height, layers, merged))


def make_rebuilt(width, height):
    planes = [[[1.0] * width for _ in range(height)]]
    planes += [[[channel_value("rgb8", c, x, y, width, height) / 255 for x in range(width)] for y in range(height)]
               for c in range(3)]
    placeholder = b"8BIM" + struct.pack(">HHI", 1057, 0, 5) + struct.pack(">IB", 1, 0) + b"\0"
    white = [[[1.0] * width for _ in range(height)] for _ in range(3)]
    return layered_file(3, 8, width, height, [(0, width, "norm", 255, planes)], white, placeholder)


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    path, kind, width, height = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    if kind == "rgb8-rebuilt":
        with open(path, "wb") as f:
            f.write(make_rebuilt(width, height))
        return
    if kind.endswith("-layers"):
        make_layered(path, kind, width, height)
        return
    with open(path, "wb") as f:
        f.write(make(kind, width, height))


if __name__ == "__main__":
    main()
