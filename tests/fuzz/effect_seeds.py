#!/usr/bin/env python3
"""Seeds for psd_effects_fuzzer, written at run time (never kept in the repository).

Usage: tests/fuzz/effect_seeds.py FOLDER [CORPUS_FOLDER ...]

A seed is a form byte (the fuzzer's colour mode and depth) and "|fx|"-separated
parts, each a block key and its data. Generated seeds: the style of
tools/layer_style.py, each of its effects alone, and the style switched off.
From each Photoshop file of the corpus folders (default: the shared corpus's
psd-fx and psd folders), one seed per layer that carries a style, a fill's
settings or an adjustment, with the file's stored patterns when they are small.
"""
import hashlib
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tools"))
from layer_style import style_block, style_effects  # noqa: E402

SEPARATOR = b"|fx|"
PATTERN_KEYS = {b"Patt", b"Pat2", b"Pat3"}
LAYER_KEYS = {b"lfx2", b"lmfx", b"lrFX", b"lfxs", b"SoCo", b"GdFl", b"PtFl", b"iOpa", b"knko", b"infx", b"lmgm",
              b"vmgm", b"tsly", b"brit", b"levl", b"curv", b"expA", b"vibA", b"hue ", b"hue2", b"blnc", b"blwh",
              b"phfl", b"mixr", b"clrL", b"nvrt", b"post", b"thrs", b"grdm", b"selc", b"CgEd"}
# The fuzzer's forms: (mode, depth) to its form byte.
FORMS = {(3, 8): 0, (3, 16): 1, (3, 32): 2, (1, 8): 3, (4, 8): 4, (9, 8): 5}
LARGEST_SEED = 60000


def blocks(data, at, end, wide):
    """(key, data) of the tagged blocks in data[at:end]; wide: the file is a large document."""
    out = []
    while end - at >= 12 and data[at:at + 4] in (b"8BIM", b"8B64"):
        key = data[at + 4:at + 8]
        long_length = wide and key in (b"LMsk", b"Lr16", b"Lr32", b"Layr", b"Mt16", b"Mt32", b"Mtrn", b"Alph",
                                       b"FMsk", b"lnk2", b"FEid", b"FXid", b"PxSD", b"lnkE", b"pths", b"extd",
                                       b"exPr", b"cinf", b"artd", b"lnk3")
        size = 8 if long_length else 4
        length = int.from_bytes(data[at + 8:at + 8 + size], "big")
        start = at + 8 + size
        out.append((key, data[start:start + length]))
        at = start + length
        at += (-(at - start)) % 4 if data[at:at + 4] not in (b"8BIM", b"8B64") else 0
    return out


def layer_blocks(data, at, wide):
    """The additional information blocks of each layer record of the layer info at `at`."""
    count = abs(struct.unpack(">h", data[at:at + 2])[0])
    at += 2
    layers = []
    for _ in range(count):
        at += 16
        channels = struct.unpack(">H", data[at:at + 2])[0]
        at += 2 + channels * (10 if wide else 6) + 12
        extra = struct.unpack(">I", data[at:at + 4])[0]
        at += 4
        end = at + extra
        mask = struct.unpack(">I", data[at:at + 4])[0]
        at += 4 + mask
        ranges = struct.unpack(">I", data[at:at + 4])[0]
        at += 4 + ranges
        at += (data[at] + 4) // 4 * 4
        layers.append(blocks(data, at, end, wide))
        at = end
    return layers


def file_seeds(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"8BPS":
        return []
    version, = struct.unpack(">H", data[4:6])
    depth, mode = struct.unpack(">HH", data[22:26])
    wide = version == 2
    at = 26
    at += 4 + struct.unpack(">I", data[at:at + 4])[0]
    at += 4 + struct.unpack(">I", data[at:at + 4])[0]
    size = 8 if wide else 4
    section_end = at + size + int.from_bytes(data[at:at + size], "big")
    at += size
    info_length = int.from_bytes(data[at:at + size], "big")
    info_at = at + size
    at = info_at + info_length
    at += 4 + struct.unpack(">I", data[at:at + 4])[0]
    globals_ = blocks(data, at, section_end, wide)
    if info_length == 0:
        found = [d for k, d in globals_ if k in (b"Lr16", b"Lr32", b"Layr")]
        if not found:
            return []
        data, info_at = found[0], 0
    patterns = [k + d for k, d in globals_ if k in PATTERN_KEYS]
    form = bytes([FORMS.get((mode, depth), 0)])
    seeds = []
    for layer in layer_blocks(data, info_at, wide):
        parts = [k + d for k, d in layer if k in LAYER_KEYS]
        if not parts:
            continue
        seed = form + SEPARATOR.join(parts + patterns)
        if len(seed) > LARGEST_SEED:
            seed = form + SEPARATOR.join(parts)
        if len(seed) <= LARGEST_SEED:
            seeds.append(seed)
    return seeds


def generated_seeds():
    seeds = [bytes([form]) + b"lfx2" + style_block() for form in range(len(FORMS))]
    seeds.append(b"\0lfx2" + style_block(on=False))
    seeds += [b"\0lfx2" + style_block(effects=[one]) for one in style_effects()]
    return seeds


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    folder = sys.argv[1]
    corpus = sys.argv[2:] or [os.path.join(ROOT, "..", "shared", "corpus", name) for name in ("psd-fx", "psd")]
    os.makedirs(folder, exist_ok=True)
    seeds = generated_seeds()
    for source in corpus:
        if not os.path.isdir(source):
            continue
        for name in sorted(os.listdir(source)):
            if name.endswith((".psd", ".psb")):
                try:
                    seeds += file_seeds(os.path.join(source, name))
                except (struct.error, IndexError):
                    print("skipped", name, file=sys.stderr)
    unique = {hashlib.sha1(seed).hexdigest(): seed for seed in seeds}
    for digest, seed in unique.items():
        with open(os.path.join(folder, digest), "wb") as f:
            f.write(seed)
    print(f"{len(unique)} seeds in {folder}")


if __name__ == "__main__":
    main()
