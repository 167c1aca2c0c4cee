#!/usr/bin/python3
"""Checks kestrel --info=json against psd-tools' reading of the same files.

Usage: facts_vs_psd_tools.py KESTREL CORPUS

Every file of the corpus's psd, psd-fx and malformed folders goes through one
--info=json run. The output must parse as JSON: an array with one object per
file, each with "version" 1. Where psd-tools opens a file, the size, colour
mode, depth, channels, and for each layer its name, kind, blend mode,
visibility and enabled effects must agree. A file psd-tools cannot open is
not compared; one it opens must not be refused. The malformed files whose
header no well-formed file has must give the error object.
"""
import json
import logging
import os
import subprocess
import sys
import tempfile
import warnings

from psd_tools import PSDImage
from psd_tools.constants import Tag

logging.disable(logging.CRITICAL)
warnings.filterwarnings('ignore')  # nor about unknown blocks  # psd-tools warns about every odd block

MODES = {'BITMAP': 'Bitmap', 'GRAYSCALE': 'Greyscale', 'INDEXED': 'Indexed', 'RGB': 'RGB', 'CMYK': 'CMYK',
         'MULTICHANNEL': 'Multichannel', 'DUOTONE': 'Duotone', 'LAB': 'Lab'}
EFFECTS = {'dropshadow': 'drop shadow', 'innershadow': 'inner shadow', 'outerglow': 'outer glow',
           'innerglow': 'inner glow', 'coloroverlay': 'colour overlay', 'gradientoverlay': 'gradient overlay',
           'patternoverlay': 'pattern overlay', 'stroke': 'stroke', 'bevelemboss': 'bevel and emboss',
           'satin': 'satin'}
FILLS = {'solidcolorfill', 'gradientfill', 'patternfill'}
PLAIN = {'group': 'group', 'artboard': 'group', 'pixel': 'pixel', 'shape': 'shape', 'type': 'type',
         'smartobject': 'smart object'}
# Malformed files refused by their header alone: the error object is certain.
HEADER_REFUSED = ('depth65535', 'depth12', 'depth24')


def expected_kind(layer):
    kind = layer.kind
    if kind in PLAIN:
        return PLAIN[kind]
    return 'fill' if kind in FILLS else 'adjustment'


def layer_records(psd):
    """The layer records in file order: the section's own, or those of its Lr16, Lr32 or Layr block."""
    section = psd._record.layer_and_mask_information
    info = section.layer_info
    if info is not None and info.layer_records:
        return list(info.layer_records)
    blocks = section.tagged_blocks
    for tag in (Tag.LAYER_16, Tag.LAYER_32, Tag.LAYER):
        data = blocks.get_data(tag) if blocks is not None and tag in blocks else None
        if data is not None and data.layer_records:
            return list(data.layer_records)
    return []


def compare(path, facts, problems):
    psd = PSDImage.open(path)
    where = os.path.basename(path)

    def check(what, ours, theirs):
        if ours != theirs:
            problems.append(f'{where}: {what}: kestrel {ours!r}, psd-tools {theirs!r}')

    check('width', facts['width'], psd.width)
    check('height', facts['height'], psd.height)
    check('format', facts['format'], 'PSB' if psd.version == 2 else 'PSD')
    check('colour mode', facts['colour_mode'], MODES[psd.color_mode.name])
    check('depth', facts['depth'], psd.depth)
    check('channels', facts['channels'], psd.channels)
    ours = {layer['index']: layer for layer in facts['layers']}
    records = layer_records(psd)
    seen = set()
    for layer in psd.descendants():
        index = next((i for i, record in enumerate(records) if record is layer._record), None)
        if index is None or index in seen:
            continue  # a layer psd-tools made up, or listed twice
        seen.add(index)
        mine = ours.get(index)
        if mine is None:
            problems.append(f'{where}: layer {index} "{layer.name}" is missing')
            continue
        # Names end at their first NUL.
        check(f'layer {index} name', mine['name'], layer.name.split('\0')[0])
        check(f'layer {index} kind', mine['kind'], expected_kind(layer))
        check(f'layer {index} blend mode', mine['blend_mode'], layer.blend_mode.value.decode('latin-1'))
        check(f'layer {index} visible', mine['visible'], layer.visible)
        theirs = sorted(EFFECTS[type(effect).__name__.lower()] for effect in layer.effects) \
            if layer.effects is not None else []
        check(f'layer {index} effects', sorted(e['kind'] for e in mine['effects'] if e['enabled']), theirs)
    check('layer count', len(facts['layers']), len(seen))
    return True


def opens(path):
    try:
        PSDImage.open(path)
        return True
    except Exception:  # noqa: BLE001 - psd-tools fails in many ways on damaged files
        return False


def main():
    kestrel, corpus = sys.argv[1], sys.argv[2]
    files = []
    for folder in ('psd', 'psd-fx', 'malformed'):
        base = os.path.join(corpus, folder)
        files += sorted(os.path.join(base, name) for name in os.listdir(base) if name.lower().endswith(('.psd', '.psb')))
    with tempfile.TemporaryDirectory() as lock:
        run = subprocess.run([kestrel, '-q', '--info=json', '--input-list0=-'], input='\0'.join(files).encode(),
                             capture_output=True, env=dict(os.environ, XDG_RUNTIME_DIR=lock), timeout=1800)
    report = json.loads(run.stdout)
    problems = []
    if not isinstance(report, list) or len(report) != len(files):
        print(f'expected an array of {len(files)} objects')
        return 1
    errors = 0
    unopened = 0
    for path, facts in zip(files, report):
        if facts.get('version') != 1 or facts.get('file') != path:
            problems.append(f'{path}: version or file wrong: {facts.get("version")!r} {facts.get("file")!r}')
            continue
        malformed = '/malformed/' in path
        if 'error' in facts:
            errors += 1
            if not facts['error'].get('message'):
                problems.append(f'{path}: an error object without a message')
            if not malformed and opens(path):
                problems.append(f'{path}: refused, but psd-tools reads it: {facts["error"]["message"]}')
            continue
        if malformed and any(mark in path for mark in HEADER_REFUSED):
            problems.append(f'{path}: a header no file may have was read')
        if not opens(path):
            unopened += 1
            continue
        compare(path, facts, problems)
    if (run.returncode != 0) != (errors > 0):
        problems.append(f'exit code {run.returncode} with {errors} error objects')
    for line in problems:
        print(line)
    print(f'{len(files)} files, {errors} error objects, {unopened} not opened by psd-tools, {len(problems)} problems')
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
