#!/usr/bin/python3
"""Measures how close kestrel's BMP of each corpus file comes to the file's
stored merged image, as psd-tools reads it, both flattened onto white.

Usage: tools/measure_fidelity.py KESTREL CORPUS_PSD_DIR [FILE...]
Prints one line per file: name, RMSE (0-255), verdict (correct < 2, near < 8,
wrong, failed; no-reference when psd-tools cannot read the file), whether the merged image is real; then the counts.
Floating-point files are compared with their linear samples put through the
sRGB transfer curve (psd-tools itself scales them by 256), and 16-bit samples
are made 8-bit as round(v * 255 / 65535) (psd-tools truncates v / 256, which
Lab magnifies), except 16-bit CMYK and Lab: Pillow's colour management takes
8-bit samples alone, so these go through LittleCMS's own 16-bit transform
(called directly) as they are. Multichannel files are compared with their first channel, as
psd-tools shows them.
"""
import os
import struct
import subprocess
import sys
import tempfile

import numpy as np
from psd_tools import PSDImage
from psd_tools.api import numpy_io


def read_bmp(path):
    """RGBA floats 0-255 of an uncompressed BMP of 8, 16 (5-6-5/5-5-5), 24 or 32 bits."""
    data = open(path, "rb").read()
    offset = struct.unpack_from("<I", data, 10)[0]
    header_size, width, height, _, bpp, compression = struct.unpack_from("<IiiHHI", data, 14)
    flip = height > 0
    height = abs(height)
    stride = ((width * bpp + 31) // 32) * 4
    rows = np.frombuffer(data, np.uint8, stride * height, offset).reshape(height, stride)
    if bpp <= 8:
        colours = struct.unpack_from("<I", data, 46)[0] or (1 << bpp)
        palette = np.frombuffer(data, np.uint8, colours * 4, 14 + header_size).reshape(-1, 4)
        bits = np.unpackbits(rows, axis=1).reshape(height, -1, bpp)[:, :width]
        idx = bits.dot(1 << np.arange(bpp - 1, -1, -1))
        rgb = palette[idx][:, :, [2, 1, 0]].astype(np.float64)
        out = np.dstack([rgb, np.full((height, width), 255.0)])
    elif bpp == 16:
        v = rows[:, : width * 2].copy().view("<u2").astype(np.int64)
        masks = struct.unpack_from("<III", data, 54) if compression == 3 else (0x7C00, 0x3E0, 0x1F)
        chans = []
        for m in masks:
            shift = (m & -m).bit_length() - 1
            top = m >> shift
            chans.append(((v & m) >> shift) * 255.0 / top)
        out = np.dstack(chans + [np.full((height, width), 255.0)])
    else:
        px = rows[:, : width * (bpp // 8)].reshape(height, width, bpp // 8).astype(np.float64)
        rgb = px[:, :, [2, 1, 0]]
        alpha = px[:, :, 3] if bpp == 32 else np.full((height, width), 255.0)
        out = np.dstack([rgb, alpha])
    return out[::-1] if flip else out


def srgb(v):
    v = np.clip(v, 0.0, 1.0)
    return np.where(v <= 0.0031308, v * 12.92, 1.055 * np.power(v, 1 / 2.4) - 0.055)


def reference(path):
    """RGBA floats 0-255 of the stored merged image, straight alpha, or None:
    the white matte is taken off where the stored colours carry one."""
    stored = stored_reference(path)
    if stored is None or not stored[2]:
        return None if stored is None else stored[0]
    rgba = stored[0]
    rgb, a = rgba[:, :, :3], rgba[:, :, 3:4]
    rgb = np.where((a > 0) & (a < 255), np.clip((rgb + a - 255.0) * 255.0 / np.maximum(a, 1), 0, 255), rgb)
    return np.dstack([rgb, rgba[:, :, 3]])


def transparency_index(psd, colours):
    """The channel that is transparency. Files that describe none of their extra
    channels have it first, as kestrel and most readers take it (psd-tools
    takes the last, which differs only where there are several)."""
    from psd_tools.constants import Resource
    if psd.image_resources.get_data(Resource.ALPHA_IDENTIFIERS):
        return numpy_io.get_transparency_index(psd)
    return colours


def stored_reference(path):
    """The stored merged image as RGBA floats 0-255, its colour as stored (matted
    or not); whether it has transparency; and whether its stored samples carry a
    white matte (see carries_white_matte). None when it cannot be read."""
    psd = PSDImage.open(path)
    if psd.depth == 32 and psd.color_mode in (1, 3):
        channels = psd._record.image_data.get_data(psd._record.header)
        arrays = [np.frombuffer(c, ">f4").reshape(psd.height, psd.width) for c in channels]
        colour = arrays[:3] if psd.color_mode == 3 else [arrays[0]] * 3
        rgb = [srgb(c) * 255.0 for c in colour]
        extra = 3 if psd.color_mode == 3 else 1
        alpha = np.full((psd.height, psd.width), 255.0)
        matte = numpy_io.has_transparency(psd) and psd.channels > extra
        if matte:
            alpha = np.clip(arrays[transparency_index(psd, extra)], 0, 1) * 255.0
        return np.dstack(rgb + [alpha]), matte, matte and carries_white_matte(np.dstack(rgb), alpha)
    if psd.color_mode not in (1, 3, 4, 9):
        image = psd.topil()
        return None if image is None else (np.asarray(image.convert("RGBA")).astype(np.float64), False, False)
    # Grey, RGB, CMYK and Lab: the stored channels through the file's profile
    # (Lab: the D50 Lab profile) to sRGB, relative colorimetric with black point
    # compensation, then the white matte taken off where there is transparency.
    from PIL import Image, ImageChops, ImageCms
    from psd_tools.api import pil_io
    from psd_tools.constants import Resource
    size = (psd.width, psd.height)
    def sample_image(data):
        if psd.depth != 16:
            return pil_io._create_image(size, data, psd.depth)
        wide = np.frombuffer(data, ">u2").astype(np.float64).reshape(psd.height, psd.width)
        return Image.fromarray(np.round(wide * 255.0 / 65535.0).astype(np.uint8), "L")

    data = psd._record.image_data.get_data(psd._record.header)
    channels = [sample_image(c) for c in data]
    mode, count = {1: ("L", 1), 3: ("RGB", 3), 4: ("CMYK", 4), 9: ("LAB", 3)}[psd.color_mode]
    image = Image.merge(mode, channels[:count])
    if mode == "CMYK":
        image = ImageChops.invert(image)
    icc = psd.image_resources.get_data(Resource.ICC_PROFILE) if Resource.ICC_PROFILE in psd.image_resources else None
    srgb_profile = ImageCms.createProfile("sRGB")
    flags = ImageCms.FLAGS["BLACKPOINTCOMPENSATION"]
    wide = psd.depth == 16 and mode in ("CMYK", "LAB") and (mode == "LAB" or icc)
    if wide:
        samples = np.dstack([np.frombuffer(c, ">u2").reshape(psd.height, psd.width) for c in data[:count]])
        image = Image.fromarray(lcms_sixteen_bits(samples, mode, icc), "RGB")
    elif mode == "LAB":
        # Worked out exactly, pixel by pixel: LittleCMS's 8-bit table is coarse for Lab.
        image = ImageCms.profileToProfile(image, ImageCms.createProfile("LAB", 5000), srgb_profile,
                                          renderingIntent=1, outputMode="RGB",
                                          flags=flags | ImageCms.FLAGS["NOTPRECALC"])
    elif icc:
        import io
        try:
            image = ImageCms.profileToProfile(image, ImageCms.ImageCmsProfile(io.BytesIO(icc)), srgb_profile,
                                              renderingIntent=1, outputMode="RGB", flags=flags)
        except ImageCms.PyCMSError:
            image = image.convert("RGB")
    rgb = np.asarray(image.convert("RGB")).astype(np.float64)
    alpha = np.full((psd.height, psd.width), 255.0)
    matte = numpy_io.has_transparency(psd) and psd.channels > count
    if matte:
        alpha = np.asarray(channels[transparency_index(psd, count)]).astype(np.float64)
    samples = np.dstack([np.asarray(c).astype(np.float64) for c in channels[:count]])
    return np.dstack([rgb, alpha]), matte, matte and carries_white_matte(samples, alpha, lab=mode == "LAB")


def lcms_sixteen_bits(samples, mode, icc):
    """16-bit CMYK (stored, 65535 no ink) through `icc`, or 16-bit Lab (L over
    0..65535, a and b centred on 32768 at 256 a unit) through D50 Lab, to
    8-bit sRGB: relative colorimetric with black point compensation, by
    LittleCMS's 16-bit transform (Lab worked out pixel by pixel)."""
    import ctypes
    lcms = ctypes.CDLL("liblcms2.so.2")
    lcms.cmsOpenProfileFromMem.restype = ctypes.c_void_p
    lcms.cmsCreate_sRGBProfile.restype = ctypes.c_void_p
    lcms.cmsCreateLab4Profile.restype = ctypes.c_void_p
    lcms.cmsCreateTransform.restype = ctypes.c_void_p
    lcms.cmsCreateTransform.argtypes = [ctypes.c_void_p, ctypes.c_uint32, ctypes.c_void_p, ctypes.c_uint32,
                                        ctypes.c_uint32, ctypes.c_uint32]
    lcms.cmsDoTransform.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_uint32]
    cmyk_16_rev, lab_dbl, rgb_16 = 401442, 4849688, 262170  # lcms2.h's TYPE_CMYK_16_REV, TYPE_Lab_DBL, TYPE_RGB_16
    black_point_compensation, no_optimise = 8192, 256
    height, width, _ = samples.shape
    if mode == "LAB":
        source = lcms.cmsCreateLab4Profile(None)
        wide = samples.astype(np.float64)
        wide = np.dstack([wide[:, :, 0] * 100 / 65535, (wide[:, :, 1] - 32768) / 256, (wide[:, :, 2] - 32768) / 256])
        transform = lcms.cmsCreateTransform(source, lab_dbl, lcms.cmsCreate_sRGBProfile(), rgb_16, 1,
                                            black_point_compensation | no_optimise)
    else:
        source = lcms.cmsOpenProfileFromMem(icc, len(icc))
        wide = samples.astype(np.uint16)
        transform = lcms.cmsCreateTransform(source, cmyk_16_rev, lcms.cmsCreate_sRGBProfile(), rgb_16, 1,
                                            black_point_compensation)
    wide = np.ascontiguousarray(wide)
    out = np.zeros((height, width, 3), np.uint16)
    lcms.cmsDoTransform(transform, wide.ctypes.data, out.ctypes.data, width * height)
    return np.round(out.astype(np.float64) * 255 / 65535).astype(np.uint8)


def carries_white_matte(samples, alpha, lab=False, slack=1.0):
    """Whether a picture's stored samples (8-bit, in the file's own order and
    sense: CMYK 255 is no ink) were blended over white where it is not opaque,
    as Photoshop stores them: every fully transparent pixel white and every
    sample at least 255 - alpha, within `slack` for rounding. Lab's a and b are
    white at 128 and take no part in the second rule."""
    a = alpha[:, :, None]
    white = np.full(samples.shape[2], 255.0)
    if lab:
        white[1:] = 128.0
    clear = np.broadcast_to(a == 0, samples.shape)
    whites = np.broadcast_to(white, samples.shape)
    if not np.all(np.abs(samples - whites)[clear] <= slack):
        return False
    lightness = samples[:, :, :1] if lab else samples
    return bool(np.all(lightness >= 255.0 - a - slack))


def flatten(rgba):
    a = rgba[:, :, 3:4] / 255.0
    return rgba[:, :, :3] * a + 255.0 * (1 - a)


def verdict(rmse):
    if rmse is None:
        return "failed"
    return "correct" if rmse < 2 else "near" if rmse < 8 else "wrong"


def main():
    kestrel, corpus = sys.argv[1], sys.argv[2]
    names = sys.argv[3:] or sorted(f for f in os.listdir(corpus)
                                   if f.endswith((".psd", ".psb")) and not f.startswith("bad_"))
    real = {}
    modes = {}
    with open(os.path.join(corpus, "MANIFEST.tsv")) as manifest:
        head = manifest.readline().rstrip("\n").split("\t")
        for line in manifest:
            row = dict(zip(head, line.rstrip("\n").split("\t")))
            real[row["file"]] = row.get("has_real_merged_data", "")
            modes[row["file"]] = row.get("color_mode", "")
    counts = {}
    env = dict(os.environ)
    for name in names:
        rmse = None
        noref = False
        with tempfile.TemporaryDirectory() as out:
            env["XDG_RUNTIME_DIR"] = out
            run = subprocess.run([kestrel, "-q", "-i", os.path.join(corpus, name), "-o", out], env=env,
                                 capture_output=True, timeout=300)
            bmps = [f for f in os.listdir(out) if f.endswith(".bmp")]
            if run.returncode == 0 and bmps:
                try:
                    got = read_bmp(os.path.join(out, bmps[0]))
                    want = reference(os.path.join(corpus, name))
                except Exception as error:  # a reference psd-tools cannot read
                    print(f"# {name}: {error}", file=sys.stderr)
                    want = None
                if want is None:
                    noref = True
                elif want.shape[:2] == got.shape[:2]:
                    rmse = float(np.sqrt(np.mean((flatten(got) - flatten(want)) ** 2)))
        v = "no-reference" if noref else verdict(rmse)
        counts[v] = counts.get(v, 0) + 1
        print(f"{name}\t{'-' if rmse is None else f'{rmse:.2f}'}\t{v}\treal={real.get(name, '?')}\tmode={modes.get(name, '?')}", flush=True)
    print("counts", " ".join(f"{k}={counts.get(k, 0)}" for k in ("correct", "near", "wrong", "failed", "no-reference")))


if __name__ == "__main__":
    main()
