#!/usr/bin/python3
"""Measures kestrel's 24-bit output of every corpus file whose stored merged
image has transparency against that image as psd-tools reads it, put on a
background in straight colour.

Usage: tools/measure_background.py KESTREL CORPUS_PSD_DIR BACKGROUND[,BACKGROUND] [FILE...]
BACKGROUND is "white" (the default, not passed to kestrel) or "black".
Prints one line per file and background: name, background, the largest
difference of one sample (0-255) or "-" when no reference could be made, and
whether the stored colour carries a white matte; then "compared N".

On white, a file whose stored colour is matted (Photoshop's) must give its
stored picture itself; on black, the stored colour with the white taken off:
max(0, c + a - 255). A file in straight colour gives c * a / 255 over the
background.
"""
import os
import subprocess
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from measure_fidelity import read_bmp, stored_reference  # noqa: E402

BACKGROUNDS = {"white": 255.0, "black": 0.0}


def expected(rgba, matted, background):
    rgb, a = rgba[:, :, :3], rgba[:, :, 3:4]
    if matted:
        # The matte is white: over white the stored colour is the picture, over black it comes off.
        straight_over_black = np.clip(rgb + a - 255.0, 0, 255)
    else:
        straight_over_black = rgb * a / 255.0
    return straight_over_black + background * (1 - a / 255.0)


def main():
    kestrel, corpus, backgrounds = sys.argv[1], sys.argv[2], sys.argv[3].split(",")
    names = sys.argv[4:] or sorted(f for f in os.listdir(corpus)
                                   if f.endswith((".psd", ".psb")) and not f.startswith("bad_"))
    real = {}
    with open(os.path.join(corpus, "MANIFEST.tsv")) as manifest:
        head = manifest.readline().rstrip("\n").split("\t")
        for line in manifest:
            row = dict(zip(head, line.rstrip("\n").split("\t")))
            real[row["file"]] = row.get("has_real_merged_data", "")
    compared = 0
    env = dict(os.environ)
    for name in names:
        # Placeholders of layered documents are composited, not read.
        if real.get(name) == "no":
            continue
        try:
            from psd_tools import PSDImage
            from psd_tools.api import numpy_io
            if not numpy_io.has_transparency(PSDImage.open(os.path.join(corpus, name))):
                continue
            stored = stored_reference(os.path.join(corpus, name))
        except Exception as error:  # a file psd-tools cannot read
            print(f"# {name}: {error}", file=sys.stderr)
            continue
        if stored is None or not stored[1] or np.all(stored[0][:, :, 3] == 255):
            continue
        rgba, _, matted = stored
        for background in backgrounds:
            want = expected(rgba, matted, BACKGROUNDS[background])
            worst = "-"
            with tempfile.TemporaryDirectory() as out:
                env["XDG_RUNTIME_DIR"] = out
                command = [kestrel, "-q", "-i", os.path.join(corpus, name), "-o", out, "--bmp-bpp=24"]
                if background != "white":
                    command.append("--background=" + background)
                run = subprocess.run(command, env=env, capture_output=True, timeout=300)
                bmps = [f for f in os.listdir(out) if f.endswith(".bmp")]
                if run.returncode == 0 and bmps:
                    got = read_bmp(os.path.join(out, bmps[0]))[:, :, :3]
                    if got.shape == want.shape:
                        worst = f"{float(np.max(np.abs(got - np.round(want)))):.0f}"
            compared += 1
            print(f"{name}\t{background}\t{worst}\tmatte={'yes' if matted else 'no'}", flush=True)
    print("compared", compared)


if __name__ == "__main__":
    main()
