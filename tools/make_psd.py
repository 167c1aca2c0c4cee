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

KIND gradient-fills:N writes an 8-bit RGB file (a large-document one when
WIDTH or HEIGHT passes 30000) of N gradient fill layers over the whole
canvas that store only their settings, and a white merged image, compressed,
marked as a placeholder: files of any size in little space and time, whose
picture the compositor draws from the fills alone.

KIND nested-groups:N writes the same kind of file with N groups nested one
in another, each normal at 78 % opacity and holding a gradient fill (fill i
from (37 i mod 256, 20, 200)) below the next group.

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


def descriptor_id(key):
    return struct.pack(">I", 0 if len(key) == 4 else len(key)) + key.encode()


def descriptor_object(cls, items):
    out = struct.pack(">I", 0) + descriptor_id(cls) + struct.pack(">I", len(items))
    return out + b"".join(descriptor_id(key) + value for key, value in items)


def typed_double(v):
    return b"doub" + struct.pack(">d", v)


def typed_long(v):
    return b"long" + struct.pack(">i", v)


def typed_enum(kind, value):
    return b"enum" + descriptor_id(kind) + descriptor_id(value)


def typed_list(values):
    return b"VlLs" + struct.pack(">I", len(values)) + b"".join(values)


def gradient_fill_settings(angle, start, end):
    def stop(rgb, location):
        colour = b"Objc" + descriptor_object("RGBC", [("Rd  ", typed_double(rgb[0])), ("Grn ", typed_double(rgb[1])),
                                                       ("Bl  ", typed_double(rgb[2]))])
        return b"Objc" + descriptor_object("Clrt", [("Clr ", colour), ("Type", typed_enum("Clry", "UsrS")),
                                                    ("Lctn", typed_long(location)), ("Mdpn", typed_long(50))])

    def opaque(location):
        return b"Objc" + descriptor_object("TrnS", [("Opct", typed_double(100)), ("Lctn", typed_long(location)),
                                                    ("Mdpn", typed_long(50))])

    grad = b"Objc" + descriptor_object("Grdn", [("GrdF", typed_enum("GrdF", "CstS")), ("Intr", typed_double(4096)),
                                                ("Clrs", typed_list([stop(start, 0), stop(end, 4096)])),
                                                ("Trns", typed_list([opaque(0), opaque(4096)]))])
    settings = descriptor_object("null", [("Type", typed_enum("GrdT", "Lnr ")), ("Angl", typed_double(angle)),
                                          ("Grad", grad)])
    return struct.pack(">I", 16) + settings


def white_rle(width, height, channels, large):
    """A merged image of white, run-length compressed: the row lengths, then the rows."""
    row = b"\x81\xff" * (width // 128)
    if width % 128:
        row += bytes([(257 - width % 128) & 0xFF, 0xFF])
    count = struct.pack(">I" if large else ">H", len(row))
    rows = height * channels
    return struct.pack(">H", 1) + count * rows + row * rows


def settings_record(name, opacity, blocks, large):
    """A layer record of no pixels (empty rectangle, raw empty channels) whose
    look comes from its additional information `blocks`."""
    length = ">Q" if large else ">I"
    record = struct.pack(">iiiiH", 0, 0, 0, 0, 4)
    for channel in (-1, 0, 1, 2):
        record += struct.pack(">h", channel) + struct.pack(length, 2)
    record += b"8BIMnorm" + bytes([opacity, 0, 0, 0])
    name_field = bytes([len(name)]) + name
    name_field += b"\0" * ((4 - len(name_field) % 4) % 4)
    extra = struct.pack(">II", 0, 0) + name_field + blocks
    return record + struct.pack(">I", len(extra)) + extra


def fill_record(i, large):
    settings = gradient_fill_settings(30 + i % 300, ((i * 37) % 256, 20, 200), (250, (i * 91) % 256, 10))
    settings += b"\0" * ((4 - len(settings) % 4) % 4)
    return settings_record(b"Fill %d" % i, 255, b"8BIMGdFl" + struct.pack(">I", len(settings)) + settings, large)


def group_records(level, opacity, large):
    """A group's folder record (normal, not pass-through) and its end marker."""
    def section(kind):
        return b"8BIMlsct" + struct.pack(">II", 12, kind) + b"8BIMnorm"
    return (settings_record(b"Group %d" % level, opacity, section(1), large),
            settings_record(b"</Layer group>", 255, section(3), large))


def make_settings_layers(width, height, records):
    """An 8-bit RGB file (a large-document one past 30000 pixels a side) of
    `records` (bottom first, made by settings_record) and a white merged
    image marked as a placeholder."""
    large = width > 30000 or height > 30000
    length = ">Q" if large else ">I"
    data = struct.pack(">H", 0) * (4 * len(records))  # every channel: raw, no samples
    info = struct.pack(">h", len(records)) + b"".join(records) + data
    if len(info) % 2:
        info += b"\0"
    # Version information: no real merged image, empty writer and reader names.
    version = struct.pack(">IBIII", 1, 0, 0, 0, 1)
    placeholder = b"8BIM" + struct.pack(">HHI", 1057, 0, len(version)) + version + b"\0"
    out = bytearray(b"8BPS" + struct.pack(">H6xHIIHH", 2 if large else 1, 3, height, width, 8, 3))
    out += struct.pack(">II", 0, len(placeholder)) + placeholder
    out += struct.pack(length, len(info) + (8 if large else 4) + 4) + struct.pack(length, len(info)) + info
    out += struct.pack(">I", 0)
    out += white_rle(width, height, 3, large)
    return bytes(out)


def make_gradient_fills(width, height, fills):
    large = width > 30000 or height > 30000
    return make_settings_layers(width, height, [fill_record(i, large) for i in range(fills)])


def make_nested_groups(width, height, levels):
    """Groups nested `levels` deep at 78 % opacity, each holding a gradient
    fill below the next group: bottom to top, the end markers and fills
    from the outermost in, then the folder records from the innermost out."""
    large = width > 30000 or height > 30000
    folders, records = [], []
    for level in range(levels):
        folder, end = group_records(level, 199, large)
        records += [end, fill_record(level, large)]
        folders.insert(0, folder)
    return make_settings_layers(width, height, records + folders)


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    path, kind, width, height = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    if kind.startswith("gradient-fills:"):
        with open(path, "wb") as f:
            f.write(make_gradient_fills(width, height, int(kind.split(":")[1])))
        return
    if kind.startswith("nested-groups:"):
        with open(path, "wb") as f:
            f.write(make_nested_groups(width, height, int(kind.split(":")[1])))
        return
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
