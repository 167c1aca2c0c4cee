#!/bin/sh
# What the confined decoder costs a whole conversion: kestrel against the same
# program built with its decoder in process (kestrel_in_process), alternating,
# each run writing a new file; medians of ROUNDS runs of each, through
# bench/measure_run. The files: the largest of the corpus, the one with the most
# pixels, and a 640x480 one. Budget: at most 5% on the largest file, at most
# 2 ms on 640x480.
# Usage: bench/sandbox_cost.sh [BUILD_DIR] [ROUNDS]
set -eu
build=${1:-build-bench}
rounds=${2:-21}
here=$(dirname "$0")
corpus=$here/../../shared/corpus/psd
if [ ! -x "$build/kestrel_in_process" ] || [ ! -x "$build/kestrel" ] || [ ! -x "$build/bench/measure_run" ]; then
  cmake -S "$here/.." -B "$build" -DCMAKE_BUILD_TYPE=Release -DKESTREL_TESTS=OFF >/dev/null
  cmake --build "$build" -j2 --target kestrel kestrel_in_process measure_run >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

median() { sort -n "$1" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "| file | confined ms | in process ms | cost ms | cost |"
echo "|---|---|---|---|---|"
largest=$(ls -S "$corpus"/*.psd "$corpus"/*.psb | head -n 1)
for file in "$largest" "$corpus/pt_cmyk-alpha-spot.psd" "$corpus/go_benchmark.psd"; do
  name=$(basename "$file")
  out="$work/${name%.*}.bmp"
  : >"$work/kestrel"
  : >"$work/kestrel_in_process"
  round=0
  while [ "$round" -lt "$rounds" ]; do
    # Alternate which program goes first.
    if [ $((round % 2)) -eq 0 ]; then order="kestrel kestrel_in_process"; else order="kestrel_in_process kestrel"; fi
    for program in $order; do
      rm -f "$out"
      "$build/bench/measure_run" "$build/$program" -q -i "$file" -o "$work" | awk '{ print $1 }' >>"$work/$program"
    done
    round=$((round + 1))
  done
  confined=$(median "$work/kestrel")
  direct=$(median "$work/kestrel_in_process")
  awk -v n="$name" -v c="$confined" -v d="$direct" \
    'BEGIN { printf "| %s | %.1f | %.1f | %+.1f | %+.1f%% |\n", n, c, d, c - d, 100 * (c - d) / d }'
done
