#!/usr/bin/env python3
"""Writes a layer style block ('lfx2' data): a drop shadow, an outer glow, a
colour overlay, a stroke and a bevel, as Photoshop describes them.

Usage: tools/layer_style.py OUTPUT [--off]
--off clears the style's master switch: the same effects, all switched off.
The fuzz seeds (tests/fuzz/effect_seeds.py) and the benchmark's styled
layers (bench/make_bench_psd) take their style from here.
"""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_psd import descriptor_object, typed_double, typed_enum  # noqa: E402


def typed_bool(value):
    return b"bool" + bytes([1 if value else 0])


def typed_units(unit, value):
    return b"UntF" + unit.encode() + struct.pack(">d", value)


def rgb(r, g, b):
    return b"Objc" + descriptor_object("RGBC", [("Rd  ", typed_double(r)), ("Grn ", typed_double(g)),
                                                 ("Bl  ", typed_double(b))])


def effect(cls, mode, opacity, items):
    common = [("enab", typed_bool(True)), ("present", typed_bool(True)), ("Md  ", typed_enum("BlnM", mode)),
              ("Opct", typed_units("#Prc", opacity))]
    return b"Objc" + descriptor_object(cls, common + items)


def style_effects():
    """The five effects, each an (effect key, typed value) pair."""
    return [
        ("DrSh", effect("DrSh", "Mltp", 75, [("Clr ", rgb(0, 0, 0)), ("uglg", typed_bool(False)),
                                             ("lagl", typed_units("#Ang", 120)), ("Dstn", typed_units("#Pxl", 5)),
                                             ("Ckmt", typed_units("#Pxl", 0)), ("blur", typed_units("#Pxl", 5)),
                                             ("layerConceals", typed_bool(True))])),
        ("OrGl", effect("OrGl", "Scrn", 75, [("Clr ", rgb(255, 255, 190)), ("GlwT", typed_enum("BETE", "SfBL")),
                                             ("Ckmt", typed_units("#Pxl", 0)), ("blur", typed_units("#Pxl", 8))])),
        ("SoFi", effect("SoFi", "Nrml", 40, [("Clr ", rgb(200, 30, 40))])),
        ("FrFX", effect("FrFX", "Nrml", 100, [("Styl", typed_enum("FStl", "OutF")), ("PntT", typed_enum("FrFl", "SClr")),
                                              ("Sz  ", typed_units("#Pxl", 3)), ("Clr ", rgb(20, 20, 120))])),
        ("ebbl", effect("ebbl", "Scrn", 75, [("hglM", typed_enum("BlnM", "Scrn")), ("hglC", rgb(255, 255, 255)),
                                             ("hglO", typed_units("#Prc", 75)), ("sdwM", typed_enum("BlnM", "Mltp")),
                                             ("sdwC", rgb(0, 0, 0)), ("sdwO", typed_units("#Prc", 75)),
                                             ("bvlT", typed_enum("bvlT", "SfBL")), ("bvlS", typed_enum("BESl", "InrB")),
                                             ("uglg", typed_bool(False)), ("lagl", typed_units("#Ang", 120)),
                                             ("Lald", typed_units("#Ang", 30)), ("srgR", typed_units("#Prc", 100)),
                                             ("blur", typed_units("#Pxl", 5)), ("bvlD", typed_enum("BESs", "In  ")),
                                             ("Sftn", typed_units("#Pxl", 0))])),
    ]


def style_block(on=True, effects=None):
    """The data of an 'lfx2' block: its version, the descriptor's version and the style."""
    items = [("Scl ", typed_units("#Prc", 100)), ("masterFXSwitch", typed_bool(on))]
    items += style_effects() if effects is None else effects
    return struct.pack(">II", 0, 16) + descriptor_object("null", items)


def main():
    if len(sys.argv) not in (2, 3) or (len(sys.argv) == 3 and sys.argv[2] != "--off"):
        sys.exit(__doc__)
    with open(sys.argv[1], "wb") as f:
        f.write(style_block(on=len(sys.argv) == 2))


if __name__ == "__main__":
    main()
