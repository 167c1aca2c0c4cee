#!/usr/bin/python3
"""Checks kestrel --layer against psd-tools' composite of the same layer.

Usage: layers_vs_psd_tools.py KESTREL CORPUS

For the 8-bit RGB files of the corpus's psd and psd-fx folders, every visible
top-level pixel layer or group that psd-tools draws the way kestrel does
(no layer style, nothing clipped to it, no adjustment inside) is drawn alone by
`kestrel --layer=INDEX --stdout`, once at the document's size and once with
--layer-crop, and compared with psd-tools' composite of that layer over the
canvas, through the file's embedded profile as kestrel shows every picture:
the root mean square difference of the premultiplied samples and the
transparency must stay within 2 (of 255).
"""
import logging
import os
import struct
import subprocess
import sys
import tempfile
import warnings

import io

import numpy as np
from PIL import Image, ImageCms
from psd_tools import PSDImage

logging.disable(logging.CRITICAL)
warnings.filterwarnings('ignore')  # nor about unknown blocks
LIMIT = 2.0


def read_bmp(data):
    """An uncompressed 24- or 32-bit BMP as an RGBA array."""
    offset = struct.unpack_from('<I', data, 10)[0]
    width, height, _, bpp, compression = struct.unpack_from('<iiHHI', data, 18)
    if compression not in (0, 3) or bpp not in (24, 32):
        raise ValueError(f'unexpected BMP: {bpp} bpp, compression {compression}')
    stride = (width * bpp // 8 + 3) // 4 * 4
    rows = np.frombuffer(data, np.uint8, stride * abs(height), offset).reshape(abs(height), stride)
    pixels = rows[:, :width * bpp // 8].reshape(abs(height), width, bpp // 8)
    if height > 0:
        pixels = pixels[::-1]
    rgba = np.full((abs(height), width, 4), 255, np.uint8)
    rgba[..., :3] = pixels[..., 2::-1]
    if bpp == 32:
        rgba[..., 3] = pixels[..., 3]
    return rgba


def premultiplied(rgba):
    values = rgba.astype(np.float64)
    values[..., :3] *= values[..., 3:4] / 255.0
    return values


def shown_through_profile(rgba, icc):
    """psd-tools' RGB as kestrel shows every picture: through the file's
    embedded profile to sRGB (relative colorimetric, black point compensation)."""
    if not icc:
        return rgba
    source = ImageCms.ImageCmsProfile(io.BytesIO(icc))
    target = ImageCms.createProfile('sRGB')
    transform = ImageCms.buildTransform(source, target, 'RGB', 'RGB', renderingIntent=1,
                                        flags=ImageCms.FLAGS['BLACKPOINTCOMPENSATION'])
    shown = rgba.copy()
    shown[..., :3] = np.asarray(ImageCms.applyTransform(Image.fromarray(np.ascontiguousarray(rgba[..., :3])), transform))
    return shown


def drawn_the_same_way(layer):
    if layer.kind not in ('pixel', 'group') or not layer.visible or layer.has_clip_layers():
        return False
    if layer.effects is not None and len(layer.effects) > 0 and layer.effects.enabled:
        return False
    if layer.kind == 'group':
        return all(inner.kind == 'pixel' and not (inner.effects is not None and len(inner.effects) > 0)
                   for inner in layer.descendants())
    return True


def main():
    kestrel, corpus = sys.argv[1], sys.argv[2]
    problems = []
    compared = 0
    with tempfile.TemporaryDirectory() as lock:
        env = dict(os.environ, XDG_RUNTIME_DIR=lock)
        for folder in ('psd', 'psd-fx'):
            base = os.path.join(corpus, folder)
            for name in sorted(os.listdir(base)):
                path = os.path.join(base, name)
                if not name.endswith('.psd') or os.path.getsize(path) > 8 << 20:
                    continue
                try:
                    psd = PSDImage.open(path)
                except Exception:  # noqa: BLE001 - damaged files are not compared
                    continue
                if psd.color_mode.name != 'RGB' or psd.depth != 8:
                    continue
                records = list(psd._record.layer_and_mask_information.layer_info.layer_records or []) \
                    if psd._record.layer_and_mask_information.layer_info else []
                for layer in psd:
                    if not drawn_the_same_way(layer):
                        continue
                    index = next((i for i, record in enumerate(records) if record is layer._record), None)
                    if index is None:
                        continue
                    expected = layer.composite(viewport=psd.viewbox)
                    if expected is None:
                        continue
                    expected = shown_through_profile(np.asarray(expected.convert('RGBA')),
                                                     psd.image_resources.get_data(1039))
                    for crop in (False, True):
                        arguments = [kestrel, '-q', '-i', path, '--stdout', f'--layer={index}']
                        want = expected
                        if crop:
                            arguments.append('--layer-crop')
                            left, top, right, bottom = layer.bbox
                            left, top = max(left, 0), max(top, 0)
                            right, bottom = min(right, psd.width), min(bottom, psd.height)
                            if right <= left or bottom <= top:
                                continue
                            want = expected[top:bottom, left:right]
                        run = subprocess.run(arguments, capture_output=True, env=env, timeout=600)
                        where = f'{name} layer {index} "{layer.name}"{" cropped" if crop else ""}'
                        if run.returncode != 0:
                            problems.append(f'{where}: exit code {run.returncode}: {run.stderr.decode(errors="replace")}')
                            continue
                        got = read_bmp(run.stdout)
                        if got.shape != want.shape:
                            problems.append(f'{where}: size {got.shape[1]}x{got.shape[0]}, not {want.shape[1]}x{want.shape[0]}')
                            continue
                        rmse = float(np.sqrt(np.mean((premultiplied(got) - premultiplied(want)) ** 2)))
                        compared += 1
                        if rmse > LIMIT:
                            problems.append(f'{where}: RMSE {rmse:.2f}')
    for line in problems:
        print(line)
    print(f'{compared} layers compared, {len(problems)} problems')
    return 1 if problems or compared == 0 else 0


if __name__ == '__main__':
    sys.exit(main())
