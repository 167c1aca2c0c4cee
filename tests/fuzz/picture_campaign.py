#!/usr/bin/env python3
"""Bounded mutation campaign: mutated watermark pictures through the whole program.

Usage: tests/fuzz/picture_campaign.py --binary build/kestrel [--runs 1000] [--minutes 10]
                                      [--jobs 2] [--seed 1] [--seeds FILE ...] [--keep DIR]

Each run mutates a seed picture (the mutations of campaign.py), converts a
small generated PSD with it as the watermark (`kestrel -q -i IN --wm-image=PIC
-o OUT`) and checks that the program ended by its own exit (never by a signal),
within the time limit, with exit code 0 (a picture that cannot be read costs
the watermark only), that the output file is there, and that whatever it said
on standard error names the picture. Seeds: small valid pictures of the four
kinds made with ImageMagick, plus the files given with --seeds (for example
the malformed-pictures reproducers). Pictures that break a rule are copied
to --keep (default tests/fuzz/crashers).
"""
import argparse
import concurrent.futures
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

from campaign import HERE, ROOT, mutate


def make_seeds(folder):
    # ImageMagick writes the valid seeds: every kind, with and without alpha, an RLE BMP and an OS/2 one.
    specs = [("seed.png", ["-size", "13x9", "gradient:red-blue"]),
             ("seed-alpha.png", ["-size", "11x7", "gradient:#ff000080-#0000ffff"]),
             ("seed.jpg", ["-size", "16x12", "plasma:fractal", "-seed", "1"]),
             ("seed24.bmp", ["-size", "9x5", "gradient:green-yellow", "BMP3:"]),
             ("seed-rle.bmp", ["-size", "12x6", "gradient:white-black", "-colors", "16", "-type", "Palette",
                               "-compress", "RLE", "BMP3:"]),
             ("seed-os2.bmp", ["-size", "7x6", "gradient:cyan-red", "BMP2:"]),
             ("seed.ico", ["-size", "16x16", "gradient:#00ff00c0-#ff00ffff"])]
    paths = []
    for name, args in specs:
        path = os.path.join(folder, name)
        *options, last = args
        target = last + path if last.endswith(":") else path
        options = options if last.endswith(":") else args
        result = subprocess.run(["convert", *options, target], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if result.returncode == 0 and os.path.exists(path):
            paths.append(path)
    return paths


def run_one(binary, psd, seed_bytes, suffix, rng_seed, work, timeout):
    rng = random.Random(rng_seed)
    data = mutate(seed_bytes, rng)
    folder = os.path.join(work, "run-%d" % rng_seed)
    os.makedirs(folder)
    picture = os.path.join(folder, "mark" + suffix)
    with open(picture, "wb") as f:
        f.write(data or b"\0")  # an empty picture is refused before the run
    env = dict(os.environ, XDG_RUNTIME_DIR=folder)
    problem = None
    started = time.monotonic()
    try:
        result = subprocess.run([binary, "-q", "-i", psd, "--wm-image=" + picture, "-o", folder],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                env=env, timeout=timeout)
        err = result.stderr.decode(errors="replace")
        if result.returncode < 0:
            problem = "signal %d" % -result.returncode
        elif result.returncode != 0:
            problem = "exit code %d: %s" % (result.returncode, err.strip())
        elif not os.path.exists(os.path.join(folder, "in.bmp")):
            problem = "no output"
        elif err and not err.startswith("kestrel: %s: " % picture):
            problem = "unexpected message: %s" % err.strip()
    except subprocess.TimeoutExpired:
        problem = "no exit within %d s" % timeout
    elapsed = time.monotonic() - started
    shutil.rmtree(folder, ignore_errors=True)
    return rng_seed, problem, data, suffix, elapsed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--runs", type=int, default=1000)
    parser.add_argument("--minutes", type=float, default=10)
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--seeds", nargs="*", default=[])
    parser.add_argument("--keep", default=os.path.join(HERE, "crashers"))
    parser.add_argument("--timeout", type=int, default=20)
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="kestrel-picture-campaign-")
    psd = os.path.join(work, "in.psd")
    subprocess.run([sys.executable, os.path.join(ROOT, "tools", "make_psd.py"), psd, "rgb8", "64", "48"], check=True)
    seeds = make_seeds(work) + [p for p in args.seeds if not p.endswith(".tsv")]
    seed_data = [(open(p, "rb").read(), os.path.splitext(p)[1]) for p in seeds]
    print("campaign: %d seeds" % len(seeds), flush=True)
    deadline = time.monotonic() + 60 * args.minutes
    found = done = 0
    slowest = 0.0
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        pending = set()
        next_run = 0
        while next_run < args.runs or pending:
            while next_run < args.runs and len(pending) < 2 * args.jobs and time.monotonic() < deadline:
                rng_seed = args.seed * 1_000_000_007 + next_run
                data, suffix = seed_data[next_run % len(seed_data)]
                pending.add(pool.submit(run_one, args.binary, psd, data, suffix, rng_seed, work, args.timeout))
                next_run += 1
            if not pending:
                break
            finished, pending = concurrent.futures.wait(pending, return_when=concurrent.futures.FIRST_COMPLETED)
            for future in finished:
                rng_seed, problem, data, suffix, elapsed = future.result()
                done += 1
                slowest = max(slowest, elapsed)
                if problem:
                    found += 1
                    os.makedirs(args.keep, exist_ok=True)
                    name = os.path.join(args.keep, "picture-%d%s" % (rng_seed, suffix))
                    with open(name, "wb") as f:
                        f.write(data)
                    print("FOUND %s: %s" % (name, problem), flush=True)
            if time.monotonic() >= deadline and next_run < args.runs:
                args.runs = next_run  # time is up: finish what runs
    shutil.rmtree(work, ignore_errors=True)
    print("campaign: %d runs, %d problems, slowest run %.2f s" % (done, found, slowest))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
