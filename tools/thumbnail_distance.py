#!/usr/bin/python3
"""Measures how close kestrel's conversion of a file comes to the thumbnail
Photoshop stored in it (image resource 1036, a JPEG Photoshop renders through
the file's colour profile into sRGB): the BMP is flattened onto white and
scaled to the thumbnail's size, and the RMSE (0-255) of the two printed. The
same is printed for psd-tools' reading of the merged image, which ignores the
profile, to show what colour management gains.

Usage: tools/thumbnail_distance.py KESTREL FILE...
Prints one line per file: name, kestrel's RMSE, psd-tools' RMSE (or "-" when
the file has no thumbnail or a conversion fails).
"""
import os
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image
from psd_tools import PSDImage


def flat(image):
    rgba = np.asarray(image.convert("RGBA")).astype(np.float64)
    alpha = rgba[:, :, 3:4] / 255.0
    return rgba[:, :, :3] * alpha + 255.0 * (1 - alpha)


def distance(picture, thumbnail):
    scaled = picture.resize(thumbnail.size, Image.LANCZOS)
    return float(np.sqrt(np.mean((flat(scaled) - flat(thumbnail)) ** 2)))


def main():
    kestrel, files = sys.argv[1], sys.argv[2:]
    for path in files:
        name = os.path.basename(path)
        psd = PSDImage.open(path)
        thumbnail = psd.thumbnail()
        if thumbnail is None:
            print(name, "-", "-")
            continue
        with tempfile.TemporaryDirectory() as out:
            env = dict(os.environ, XDG_RUNTIME_DIR=out)
            status = subprocess.call([kestrel, "-q", "-i", path, "-o", out], env=env,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            bmp = os.path.join(out, os.path.splitext(name)[0] + ".bmp")
            if status != 0 or not os.path.exists(bmp):
                print(name, "-", "-")
                continue
            ours = distance(Image.open(bmp), thumbnail)
        merged = psd.topil()
        theirs = "%.2f" % distance(merged, thumbnail) if merged is not None else "-"
        print(name, "%.2f" % ours, theirs, flush=True)


if __name__ == "__main__":
    main()
