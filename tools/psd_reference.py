#!/usr/bin/python3
"""Independent pictures of a Photoshop file, made with psd-tools, as 8-bit RGB
flattened onto white (binary PPM): the stored merged image and psd-tools' own
composite of the layers.

Usage: psd_reference.py FILE MERGED.ppm COMPOSITE.ppm
Grey files come out with R = G = B. Exit 2 when psd-tools cannot read the file.
"""
import logging
import sys
import warnings

import numpy as np
from psd_tools import PSDImage


def flattened(color, alpha):
    if color.ndim == 2:
        color = color[:, :, None]
    if color.shape[2] == 1:
        color = np.repeat(color, 3, axis=2)
    color = color[:, :, :3]
    if alpha is not None:
        if alpha.ndim == 2:
            alpha = alpha[:, :, None]
        color = color * alpha + (1.0 - alpha)
    return np.clip(np.rint(np.clip(color, 0.0, 1.0) * 255.0), 0, 255).astype(np.uint8)


def write_ppm(path, rgb):
    with open(path, 'wb') as out:
        out.write(b'P6\n%d %d\n255\n' % (rgb.shape[1], rgb.shape[0]))
        out.write(rgb.tobytes())


def main():
    logging.disable(logging.CRITICAL)
    warnings.simplefilter('ignore')
    psd = PSDImage.open(sys.argv[1])
    # The stored merged image, whose transparency Photoshop mattes against white:
    # psd-tools takes the white matte out of an RGB one; a grey one keeps it, so it is not flattened again.
    color = psd.numpy('color')
    shape = psd.numpy('shape') if psd.color_mode == 3 else None
    write_ppm(sys.argv[2], flattened(color, shape))
    from psd_tools.composite import composite
    color, _, alpha = composite(psd, color=1.0, alpha=0.0)
    write_ppm(sys.argv[3], flattened(color, alpha))


if __name__ == '__main__':
    main()
