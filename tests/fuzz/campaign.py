#!/usr/bin/env python3
"""Bounded mutation campaign: mutated PSDs through the whole program.

Usage: tests/fuzz/campaign.py --binary build/kestrel [--runs 1000] [--minutes 10]
                              [--jobs 2] [--seed 1] [--seeds DIR ...] [--keep DIR]

Each run mutates a seed file (bit flips, boundary values in the header and
section lengths, truncation, deleted or duplicated ranges), converts it with
`kestrel -d -i FILE -o OUT`, and checks that the program ended by its own exit
(never by a signal), within the time limit, with exit code 0 or 1, and without
leaving a partial output file. Files that break a rule are copied to --keep
(default tests/fuzz/crashers, which `make test` replays). The campaign stops
after --runs runs or --minutes minutes, whichever comes first; it exits 1 when
it found anything.
"""
import argparse
import concurrent.futures
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
BOUNDARY = [0, 1, 2, 0x7F, 0x80, 0xFF, 0x7FFF, 0x8000, 0xFFFF, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFFE]


def mutate(data, rng):
    data = bytearray(data)
    for _ in range(rng.randint(1, 4)):
        choice = rng.random()
        if not data:
            break
        if choice < 0.35:  # bit flips
            for _ in range(rng.randint(1, 8)):
                at = rng.randrange(len(data))
                data[at] ^= 1 << rng.randrange(8)
        elif choice < 0.65:  # a boundary value in the header or a section length
            width = rng.choice([1, 2, 4])
            limit = min(len(data), 200) - width
            if limit <= 0:
                continue
            at = rng.randrange(limit)
            value = rng.choice(BOUNDARY) & ((1 << (8 * width)) - 1)
            data[at:at + width] = value.to_bytes(width, "big")
        elif choice < 0.8:  # truncation
            data = data[:rng.randrange(len(data))]
        elif choice < 0.9:  # delete a range
            a = rng.randrange(len(data))
            b = min(len(data), a + rng.randint(1, 256))
            del data[a:b]
        else:  # duplicate a range somewhere else
            a = rng.randrange(len(data))
            chunk = data[a:a + rng.randint(1, 256)]
            at = rng.randrange(len(data))
            data[at:at] = chunk
    return bytes(data)


def make_seeds(folder):
    kinds = [("rgb8", 9, 7), ("rgba8", 5, 5), ("grey8", 8, 3), ("grey16", 4, 4), ("rgb16", 3, 5), ("indexed8", 6, 6)]
    paths = []
    for kind, w, h in kinds:
        path = os.path.join(folder, "seed-%s.psd" % kind)
        subprocess.run([sys.executable, os.path.join(ROOT, "tools", "make_psd.py"), path, kind, str(w), str(h)],
                       check=True)
        paths.append(path)
    return paths


def run_one(binary, seed_bytes, rng_seed, work, timeout):
    rng = random.Random(rng_seed)
    data = mutate(seed_bytes, rng)
    folder = os.path.join(work, "run-%d" % rng_seed)
    os.makedirs(folder)
    path = os.path.join(folder, "input.psd")
    with open(path, "wb") as f:
        f.write(data)
    env = dict(os.environ, XDG_RUNTIME_DIR=folder)
    problem = None
    started = time.monotonic()
    try:
        result = subprocess.run([binary, "-d", "-i", path, "-o", folder], stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env, timeout=timeout)
        if result.returncode < 0:
            problem = "signal %d" % -result.returncode
        elif result.returncode not in (0, 1):
            problem = "exit code %d" % result.returncode
        elif any(name.endswith(".part") for name in os.listdir(folder)):
            problem = "partial output left"
    except subprocess.TimeoutExpired:
        problem = "no exit within %d s" % timeout
    elapsed = time.monotonic() - started
    shutil.rmtree(folder, ignore_errors=True)
    return rng_seed, problem, data, elapsed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--runs", type=int, default=1000)
    parser.add_argument("--minutes", type=float, default=10)
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 2)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--seeds", nargs="*", default=[])
    parser.add_argument("--keep", default=os.path.join(HERE, "crashers"))
    parser.add_argument("--timeout", type=int, default=10)
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="kestrel-campaign-")
    seeds = make_seeds(work) + list(args.seeds)
    seed_data = [open(p, "rb").read() for p in seeds]
    deadline = time.monotonic() + 60 * args.minutes
    found = 0
    done = 0
    slowest = 0.0
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        pending = set()
        next_run = 0
        while next_run < args.runs or pending:
            while next_run < args.runs and len(pending) < 2 * args.jobs and time.monotonic() < deadline:
                rng_seed = args.seed * 1_000_000_007 + next_run
                seed = seed_data[next_run % len(seed_data)]
                pending.add(pool.submit(run_one, args.binary, seed, rng_seed, work, args.timeout))
                next_run += 1
            if not pending:
                break
            finished, pending = concurrent.futures.wait(pending, return_when=concurrent.futures.FIRST_COMPLETED)
            for future in finished:
                rng_seed, problem, data, elapsed = future.result()
                done += 1
                slowest = max(slowest, elapsed)
                if problem:
                    found += 1
                    os.makedirs(args.keep, exist_ok=True)
                    name = os.path.join(args.keep, "campaign-%d.psd" % rng_seed)
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
