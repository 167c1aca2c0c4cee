#!/bin/sh
# The cost of the confined decoder: the largest corpus file and a 640x480 file,
# loaded and encoded with the decoder in process and confined (median of ROUNDS).
# Usage: bench/sandbox_cost.sh [BUILD_DIR] [ROUNDS]   Budget: at most 5% on the
# largest file, at most 2 ms on 640x480. Run it on an otherwise idle machine.
set -eu
build=${1:-build}
rounds=${2:-21}
corpus=$(dirname "$0")/../../shared/corpus/psd
bin="$build/bench/sandbox_cost"
[ -x "$bin" ] || cmake --build "$build" --target sandbox_cost
largest=$(ls -S "$corpus"/*.psd "$corpus"/*.psb | head -n 1)
"$bin" "$largest" "$rounds"
"$bin" "$corpus/pt_cmyk-alpha-spot.psd" "$rounds"   # the most pixels (3300x5100)
"$bin" "$corpus/go_benchmark.psd" "$rounds"         # 640x480
