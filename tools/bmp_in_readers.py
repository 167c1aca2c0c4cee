#!/usr/bin/python3
"""Shows how independent readers see a BMP's top row.

Usage: tools/bmp_in_readers.py READER BMP
READER is one of:
  imagemagick  the alpha of each pixel of the top row, as ImageMagick reads it
  pillow       the same as Pillow reads it (255 everywhere when it reads no alpha)
  chromium     the colour a browser shows at the middle of each pixel of the
               top row, the picture drawn 40 times its size over a
               checkerboard page of magenta and lime squares 10 pixels wide
Prints one line of space-separated values; R,G,B for colours.
"""
import os
import subprocess
import sys
import tempfile

SCALE = 40
CHECKER = 10


def imagemagick(path):
    width = int(subprocess.run(["identify", "-format", "%w", path], capture_output=True, text=True,
                               check=True).stdout)
    raw = subprocess.run(["convert", path + "[0]", "-crop", f"{width}x1+0+0", "-depth", "8", "rgba:-"],
                         capture_output=True, check=True).stdout
    return [str(raw[4 * x + 3]) for x in range(width)]


def pillow(path):
    from PIL import Image
    image = Image.open(path)
    image.load()
    if "A" not in image.getbands():
        return ["255"] * image.width
    alpha = image.getchannel("A")
    return [str(alpha.getpixel((x, 0))) for x in range(image.width)]


def chromium(path):
    from PIL import Image
    width, height = Image.open(path).size
    with tempfile.TemporaryDirectory() as folder:
        page = os.path.join(folder, "page.html")
        shot = os.path.join(folder, "shot.png")
        with open(page, "w") as out:
            out.write(f"""<!DOCTYPE html><html><head><style>
html, body {{ margin: 0; }}
body {{ background: repeating-conic-gradient(#ff00ff 0 25%, #00ff00 0 50%) 0 0 / {2 * CHECKER}px {2 * CHECKER}px; }}
img {{ display: block; width: {width * SCALE}px; height: {height * SCALE}px; image-rendering: pixelated; }}
</style></head><body><img src="file://{os.path.abspath(path)}"></body></html>""")
        subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                        "--allow-file-access-from-files", f"--window-size={width * SCALE + 40},{height * SCALE + 40}",
                        f"--screenshot={shot}", "file://" + page], capture_output=True, timeout=120, check=True)
        image = Image.open(shot).convert("RGB")
        # The middle of each pixel, nudged off the checkerboard's edges.
        points = [(x * SCALE + SCALE // 2 + 3, SCALE // 2 + 3) for x in range(width)]
        shown = [",".join(str(v) for v in image.getpixel(p)) for p in points]
        return shown


def main():
    reader, path = sys.argv[1], sys.argv[2]
    print(" ".join({"imagemagick": imagemagick, "pillow": pillow, "chromium": chromium}[reader](path)))


if __name__ == "__main__":
    main()
