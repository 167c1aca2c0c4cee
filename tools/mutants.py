#!/usr/bin/env python3
"""Checks that the tests catch faults in the formula files.

Each mutant below is one deliberate fault: a piece of text of one file and
what it becomes. Every mutant is applied in turn to a scratch copy of the
tree, which is built (with ccache, when it is there) and run against the
ctest labels "core" and "corpus"; a mutant that no test fails has survived,
and the script exits 1. The tests named in a mutant's row run first, so that
most mutants are caught without the whole run.

Usage: tools/mutants.py [--scratch DIR] [--only NAME...] [--list]
The scratch copy (default /tmp/kestrel-mutants) is kept between runs, so only
the first run builds everything. A mutant whose text is no longer in its file
fails the script too: its row is to be brought up to date with the code.
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

BLEND = "engine/composite/blend_modes.cpp"
DISPLAY = "engine/colour/display_colour.cpp"
SAMPLES_H = "engine/colour/display_samples.h"
SAMPLES = "engine/colour/display_samples.cpp"
PLANE = "engine/composite/plane_samples.h"
GRADIENT = "engine/composite/gradients.cpp"
VECTOR = "engine/composite/vector_mask.cpp"

# name, file, text, replacement, tests to run first (a ctest -R expression on
# the tests' names, anchored so that it does not take in the slow corpus suites)
MUTANTS = [
    # Blend modes.
    ("soft_light_dark_branch_is_sqrt", BLEND,
     "const float d = b <= 0.25f ? ((16 * b - 12) * b + 4) * b : std::sqrt(std::max(b, 0.0f));",
     "const float d = std::sqrt(std::max(b, 0.0f));", "^(BlendModes\\.)"),
    ("saturation_helper_wrong_middle_channel", BLEND,
     "float& mid = c[order[1]];", "float& mid = c[order[0]];", "^(BlendModes\\.)"),
    ("difference_without_absolute_value", BLEND,
     "return std::fabs(b - s);", "return b - s;", "^(BlendModes\\.)"),
    ("hue_takes_the_source_saturation", BLEND,
     "SetSat(out, Sat(b));\n      SetLum(out, Lum(b));\n      break;\n    case BlendMode::Saturation:",
     "SetSat(out, Sat(s));\n      SetLum(out, Lum(b));\n      break;\n    case BlendMode::Saturation:", "^(BlendModes\\.)"),
    ("lum_weights_green_and_blue_swapped", BLEND,
     "return 0.3f * c[0] + 0.59f * c[1] + 0.11f * c[2];",
     "return 0.3f * c[0] + 0.11f * c[1] + 0.59f * c[2];", "^(BlendModes\\.)"),
    ("colour_burn_inverted", BLEND,
     "return 1 - std::min(1.0f, (1 - b) / s);", "return 1 - std::min(1.0f, (1 - s) / b);", "^(BlendModes\\.)"),
    ("union_alpha_is_the_larger", BLEND,
     "as >= 1 || ab >= 1 ? 1.0f : as + ab - as * ab;", "as >= 1 || ab >= 1 ? 1.0f : std::max(as, ab);",
     "^(BlendModes\\.)"),
    # Display colour.
    ("plain_cmyk_ignores_black", DISPLAY,
     "to[c] = static_cast<std::uint8_t>((from[c] * k + 127) / 255);",
     "to[c] = static_cast<std::uint8_t>((from[c] * 255 + 127) / 255);", "^(MergedImage\\.|LayerColourModes\\.)"),
    ("perceptual_intent", DISPLAY,
     "INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_BLACKPOINTCOMPENSATION",
     "INTENT_PERCEPTUAL, cmsFLAGS_BLACKPOINTCOMPENSATION", "^(MergedImage\\.|LayerColourModes\\.)"),
    ("no_black_point_compensation", DISPLAY,
     "INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_BLACKPOINTCOMPENSATION", "INTENT_RELATIVE_COLORIMETRIC, 0",
     "^(MergedImage\\.|LayerColourModes\\.)"),
    ("every_rgb_and_grey_profile_taken_for_srgb", DISPLAY,
     "static_cast<int>(to[i])) > 1) return false;", "static_cast<int>(to[i])) > 1) continue;",
     "^(MergedImage\\.|LayerColourModes\\.)"),
    # Sample scaling.
    ("sixteen_bits_truncated", SAMPLES_H,
     "return static_cast<std::uint8_t>((std::uint32_t{v} * 255u + 32767u) / 65535u);",
     "return static_cast<std::uint8_t>(std::uint32_t{v} >> 8);", "^(MergedImage\\.|Depth\\.|DisplaySamples\\.)"),
    ("srgb_curve_gamma_2_2", SAMPLES_H,
     "T(1.055) * std::pow(v, T(1) / T(2.4)) - T(0.055)", "T(1.055) * std::pow(v, T(1) / T(2.2)) - T(0.055)",
     "^(MergedImage\\.|Depth\\.|DisplaySamples\\.)"),
    ("float_alpha_through_the_colour_curve", SAMPLES,
     "c == 3 ? FloatCoverageToDisplay(v) : LinearLightToDisplay(v)", "LinearLightToDisplay(v)",
     "^(MergedImage\\.|Depth\\.|DisplaySamples\\.)"),
    ("plane_sixteen_bits_little_endian", PLANE,
     "(plane[2 * index] << 8 | plane[2 * index + 1]) / 65535.0f",
     "(plane[2 * index + 1] << 8 | plane[2 * index]) / 65535.0f", "^(PlaneSamples\\.|LayerComposite\\.|LayerColourModes\\.)"),
    ("plane_eight_bits_truncated", PLANE,
     "std::clamp(value, 0.0f, 1.0f) * 255 + 0.5f);", "std::clamp(value, 0.0f, 1.0f) * 255);", "^(PlaneSamples\\.|LayerComposite\\.|LayerColourModes\\.)"),
    # Matte.
    ("unmatte_from_black", SAMPLES_H,
     "((static_cast<int>(c) - 255 + a) * 255 + a / 2) / a;", "(static_cast<int>(c) * 255 + a / 2) / a;",
     "^(MergedImage\\.|LayerComposite\\.Transparency)"),
    ("unmatte_leaves_blue", SAMPLES,
     "p[FI_RGBA_BLUE] = UnmatteFromWhite(p[FI_RGBA_BLUE], a);", "", "^(MergedImage\\.|LayerComposite\\.Transparency)"),
    # Gradients.
    ("gradient_midpoint_inverted", GRADIENT,
     "t = std::pow(t, std::log(0.5) / std::log(midpoint));", "t = std::pow(t, std::log(midpoint) / std::log(0.5));",
     "^(LayerComposite\\.Gradient|CorpusLayers\\.Composite)"),
    ("gradient_reverse_ignored", GRADIENT, "if (g.reverse) z = 1 - z;", "", "^(LayerComposite\\.Gradient|CorpusLayers\\.Composite)"),
    ("radial_gradient_drawn_as_diamond", GRADIENT,
     "case Gradient::Style::Radial: z = std::hypot(along, across); break;",
     "case Gradient::Style::Radial: z = std::abs(along) + std::abs(across); break;", "^(LayerComposite\\.Gradient|CorpusLayers\\.Composite)"),
    ("angle_gradient_turns_the_other_way", GRADIENT,
     "std::atan2(-across, along)", "std::atan2(across, along)", "^(LayerComposite\\.Gradient|CorpusLayers\\.Composite)"),
    ("gradient_smoothness_doubled", GRADIENT,
     "return t + (eased - t) * 0.5 * smoothness;", "return t + (eased - t) * smoothness;", "^(LayerComposite\\.Gradient|CorpusLayers\\.Composite)"),
    # Vector masks.
    ("vector_mask_exclusion_as_union", VECTOR,
     "case 0: shape[p] = m + v - 2 * m * v; break;", "case 0: shape[p] = m + v - m * v; break;", "^(VectorMask\\.|CorpusLayers\\.Composite)"),
    ("vector_mask_subtraction_reversed", VECTOR,
     "case 2: shape[p] = std::max(0.0f, m - v); break;", "case 2: shape[p] = std::max(0.0f, v - m); break;",
     "^(VectorMask\\.|CorpusLayers\\.Composite)"),
    ("vector_mask_inversion_ignored", VECTOR, "if (mask.inverted) {", "if (false && mask.inverted) {",
     "^(VectorMask\\.|CorpusLayers\\.Composite)"),
    ("vector_mask_curves_ignore_control_points", VECTOR,
     "3 * u * u * t * a.after.x + 3 * u * t * t * b.before.x",
     "3 * u * u * t * a.anchor.x + 3 * u * t * t * b.anchor.x", "^(VectorMask\\.|CorpusLayers\\.Composite)"),
    ("vector_mask_edges_without_partial_coverage", VECTOR,
     "row[first] += static_cast<float>((first + 1 - from) * weight);", "row[first] += weight;", "^(VectorMask\\.|CorpusLayers\\.Composite)"),
]


def run(command, cwd=None, log=None):
    """Runs a command; its output goes to the log file. Returns the exit status."""
    with open(log or os.devnull, "a") as out:
        return subprocess.call(command, cwd=cwd, stdout=out, stderr=subprocess.STDOUT)


def sync_tree(scratch):
    """Copies the repository's files (as they are in the working tree) into scratch/src."""
    files = subprocess.check_output(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                                    cwd=REPO).decode().split("\0")
    source = os.path.join(scratch, "src")
    for name in filter(None, files):
        origin = os.path.join(REPO, name)
        target = os.path.join(source, name)
        if not os.path.isfile(origin):
            continue
        if os.path.exists(target) and open(origin, "rb").read() == open(target, "rb").read():
            continue
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(origin, target)
    return source


def build(source, build_dir, log, targets=()):
    if not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
        launcher = ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"] \
            if shutil.which("ccache") else []
        corpus = os.path.join(os.path.dirname(REPO), "shared", "corpus")
        status = run(["cmake", "-S", source, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release", "-DKESTREL_TESTS=ON",
                      "-DKESTREL_CORPUS_DIR=" + corpus] + launcher, log=log)
        if status != 0:
            return False
    command = ["nice", "cmake", "--build", build_dir, "-j2"]
    for target in targets:
        command += ["--target", target]
    return run(command, log=log) == 0


# What a mutant rebuilds: the program and the two test programs (the modules
# the program loads take the core from it, so they need no rebuild).
TEST_TARGETS = ("kestrel", "kestrel_tests", "kestrel_corpus_tests")
# Built once: the core tests check what the modules hold.
MODULE_TARGETS = ("kestrel_draw", "kestrel_window")


def tests_fail(build_dir, log, regex=None):
    """Whether a test of the core or corpus labels fails (the first failure ends the run)."""
    command = ["ctest", "-L", "^(core|corpus)$", "-j2", "--stop-on-failure", "--output-on-failure"]
    if regex:
        command += ["-R", regex]
    return run(command, cwd=build_dir, log=log) != 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--scratch", default="/tmp/kestrel-mutants")
    parser.add_argument("--only", nargs="*", help="names of the mutants to run")
    parser.add_argument("--list", action="store_true", help="list the mutants and stop")
    parser.add_argument("--quick", action="store_true",
                        help="run only each mutant's own tests (a survivor is then one they miss)")
    args = parser.parse_args()
    chosen = [m for m in MUTANTS if not args.only or m[0] in args.only]
    if args.list:
        for name, path, *_ in chosen:
            print("%-45s %s" % (name, path))
        return 0
    os.makedirs(args.scratch, exist_ok=True)
    log = os.path.join(args.scratch, "mutants.log")
    source = sync_tree(args.scratch)
    build_dir = os.path.join(args.scratch, "build")
    print("building the unchanged copy in %s (log: %s)" % (args.scratch, log), flush=True)
    if not build(source, build_dir, log, TEST_TARGETS + MODULE_TARGETS):
        print("the unchanged copy does not build", file=sys.stderr)
        return 2
    survivors, stale = [], []
    for name, path, text, replacement, first in chosen:
        target = os.path.join(source, path)
        original = open(target).read()
        if original.count(text) != 1:
            print("%-45s NO LONGER APPLIES (%s)" % (name, path), flush=True)
            stale.append(name)
            continue
        started = time.time()
        with open(target, "w") as out:
            out.write(original.replace(text, replacement))
        try:
            with open(log, "a") as out:
                out.write("\n=== mutant %s ===\n" % name)
            if not build(source, build_dir, log, TEST_TARGETS):
                verdict = "killed (does not build)"
            elif tests_fail(build_dir, log, first):
                verdict = "killed by the tests of " + first
            elif args.quick:
                verdict = "SURVIVED its own tests"
                survivors.append(name)
            elif tests_fail(build_dir, log):
                verdict = "killed by the whole run"
            else:
                verdict = "SURVIVED"
                survivors.append(name)
        finally:
            with open(target, "w") as out:
                out.write(original)
        print("%-45s %s (%.0f s)" % (name, verdict, time.time() - started), flush=True)
    # Leave the copy built as it is, for the next run.
    build(source, build_dir, log, TEST_TARGETS)
    print("%d mutants, %d survived, %d no longer apply" % (len(chosen), len(survivors), len(stale)))
    return 1 if survivors or stale else 0


if __name__ == "__main__":
    sys.exit(main())
