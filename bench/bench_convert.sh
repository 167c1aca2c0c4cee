#!/bin/sh
# Times `kestrel -q -i FILE -o DIR` against a bare FreeImage load-and-save of the
# same file, alternating runs, and prints the medians and their ratio.
# Usage: bench/bench_convert.sh [FILE.psd] [RUNS]
# Default: the corpus's largest image (most pixels) of 8 bits per channel, which
# BMP holds as it is, so both sides do the same work; 9 runs.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-$root/build}
corpus=$root/../shared/corpus/psd
largest() {
  awk -F'\t' 'NR > 1 && $1 ~ /\.psd$/ && $9 == 8 && $1 !~ /^bad_/ { print $10 * $11, $1 }' "$corpus/MANIFEST.tsv" |
    sort -n | tail -n 1 | cut -d' ' -f2
}
input=${1:-$corpus/$(largest)}
runs=${2:-9}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
export XDG_RUNTIME_DIR="$out"

[ -x "$build/kestrel" ] && [ -x "$build/bench/bare_convert" ] || {
  echo "build first: cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build" >&2
  exit 1
}

now_ms() { date +%s%N | cut -c1-13; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

: > "$out/kestrel.times"
: > "$out/bare.times"
i=0
while [ "$i" -lt "$runs" ]; do
  t0=$(now_ms); "$build/bench/bare_convert" "$input" "$out/bare.bmp"; t1=$(now_ms)
  echo $((t1 - t0)) >> "$out/bare.times"
  t0=$(now_ms); "$build/kestrel" -q -i "$input" -o "$out"; t1=$(now_ms)
  echo $((t1 - t0)) >> "$out/kestrel.times"
  i=$((i + 1))
done

bare=$(median < "$out/bare.times")
kestrel=$(median < "$out/kestrel.times")
echo "file:    $input ($(stat -c %s "$input") bytes)"
echo "bare:    ${bare} ms (median of $runs)"
echo "kestrel: ${kestrel} ms (median of $runs)"
awk -v k="$kestrel" -v b="$bare" 'BEGIN { printf "ratio:   %.3f\n", (b > 0 ? k / b : 0) }'
