#!/usr/bin/env python3
"""Prints the table of expected blend results in tests/blend_modes_test.cpp.

The formulas are typed here as the PDF and W3C compositing references write
them (B(cb, cs) per channel for the separable modes; Lum, ClipColor, SetLum,
Sat and SetSat for the others), in double precision, apart from the C++ code
they check. Two modes follow Photoshop's own merged images instead: vivid
light lights the layer by the backdrop, and hard mix is 1 where cb + cs >= 1.
Usage: tools/blend_reference.py > table.txt, then paste the rows.
"""
import math

# Backdrop and source pixels, RGB in 0..1, chosen so that every branch of
# every mode is taken by some channel and no two modes give the same pixels:
# soft light sees a dark (<= 0.25) and a light backdrop under a light source.
PAIRS = [
    ((0.05, 0.60, 0.90), (0.80, 0.20, 0.55)),
    ((0.90, 0.15, 0.45), (0.12, 0.70, 0.35)),
    ((0.50, 0.35, 0.10), (0.65, 0.95, 0.40)),
]


def burn(b, s):
    if b == 1:
        return 1.0
    if s == 0:
        return 0.0
    return 1 - min(1, (1 - b) / s)


def dodge(b, s):
    if b == 0:
        return 0.0
    if s == 1:
        return 1.0
    return min(1, b / (1 - s))


def hard_light(b, s):
    return b * 2 * s if s <= 0.5 else b + (2 * s - 1) - b * (2 * s - 1)


def soft_light(b, s):
    if s <= 0.5:
        return b - (1 - 2 * s) * b * (1 - b)
    d = ((16 * b - 12) * b + 4) * b if b <= 0.25 else math.sqrt(b)
    return b + (2 * s - 1) * (d - b)


SEPARABLE = {
    "norm": lambda b, s: s,
    "dark": min,
    "mul ": lambda b, s: b * s,
    "idiv": burn,
    "lbrn": lambda b, s: max(0, b + s - 1),
    "lite": max,
    "scrn": lambda b, s: b + s - b * s,
    "div ": dodge,
    "lddg": lambda b, s: min(1, b + s),
    "over": lambda b, s: hard_light(s, b),
    "sLit": soft_light,
    "hLit": hard_light,
    "vLit": lambda b, s: burn(s, 2 * b) if b <= 0.5 else dodge(s, 2 * b - 1),
    "lLit": lambda b, s: min(1, max(0, b + 2 * s - 1)),
    "pLit": lambda b, s: min(b, 2 * s) if s <= 0.5 else max(b, 2 * s - 1),
    "hMix": lambda b, s: 1.0 if b + s >= 1 else 0.0,
    "diff": lambda b, s: abs(b - s),
    "smud": lambda b, s: b + s - 2 * b * s,
    "fsub": lambda b, s: max(0, b - s),
    "fdiv": lambda b, s: (0.0 if b == 0 else 1.0) if s == 0 else min(1, b / s),
}


def lum(c):
    return 0.3 * c[0] + 0.59 * c[1] + 0.11 * c[2]


def clip_color(c):
    l, n, x = lum(c), min(c), max(c)
    if n < 0:
        c = [l + (v - l) * l / (l - n) for v in c]
    if x > 1:
        c = [l + (v - l) * (1 - l) / (x - l) for v in c]
    return c


def set_lum(c, l):
    d = l - lum(c)
    return clip_color([v + d for v in c])


def sat(c):
    return max(c) - min(c)


def set_sat(c, s):
    order = sorted(range(3), key=lambda i: c[i])
    lo, mid, hi = order
    out = [0.0, 0.0, 0.0]
    if c[hi] > c[lo]:
        out[mid] = (c[mid] - c[lo]) * s / (c[hi] - c[lo])
        out[hi] = s
    return out


NON_SEPARABLE = {
    "hue ": lambda b, s: set_lum(set_sat(s, sat(b)), lum(b)),
    "sat ": lambda b, s: set_lum(set_sat(b, sat(s)), lum(b)),
    "colr": lambda b, s: set_lum(s, lum(b)),
    "lum ": lambda b, s: set_lum(b, lum(s)),
    "dkCl": lambda b, s: list(s) if lum(s) < lum(b) else list(b),
    "lgCl": lambda b, s: list(s) if lum(s) > lum(b) else list(b),
}


def main():
    for key, f in list(SEPARABLE.items()) + list(NON_SEPARABLE.items()):
        results = []
        for b, s in PAIRS:
            results.append(f(b, s) if key in NON_SEPARABLE else [f(bc, sc) for bc, sc in zip(b, s)])
        cells = ", ".join("{" + ", ".join("%.6ff" % v for v in r) + "}" for r in results)
        print('    {"%s", {%s}},' % (key, cells))


if __name__ == "__main__":
    main()
