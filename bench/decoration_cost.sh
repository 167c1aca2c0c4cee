#!/bin/sh
# What a 10-pixel frame, a one-line text watermark and a picture watermark
# (a 256x256 PNG with alpha made by ImageMagick, decoded confined for every
# file) add to the plain conversion of one file: runs the conversions in turn,
# prints the medians and each decoration's extra time in percent of the plain run.
# Usage: bench/decoration_cost.sh [FILE.psd] [RUNS]
# Default: the corpus's largest image (most pixels) of 8 bits per channel; 9 runs.
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

[ -x "$build/kestrel" ] || {
  echo "build first: cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build" >&2
  exit 1
}

now_ms() { date +%s%N | cut -c1-13; }
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
convert() {
  name=$1
  shift
  t0=$(now_ms)
  "$build/kestrel" -q -i "$input" -o "$out" "$@"
  t1=$(now_ms)
  echo $((t1 - t0)) >> "$out/$name.times"
}

picture=$out/mark.png
command convert -size 256x256 gradient:'#ff000080-#0000ffff' "$picture"

: > "$out/plain.times"
: > "$out/frame.times"
: > "$out/text.times"
: > "$out/picture.times"
i=0
while [ "$i" -lt "$runs" ]; do
  convert plain
  convert frame --fr-solid-left=10 --fr-solid-right=10 --fr-solid-top=10 --fr-solid-bottom=10 \
    --fr-solid-left-color=FF0000 --fr-solid-opacity=128
  convert text "--wm-text=Kestrel %filename% %width%x%height%" --wm-back-opacity=128
  convert picture "--wm-image=$picture" --wm-image-opacity=128
  i=$((i + 1))
done

plain=$(median < "$out/plain.times")
frame=$(median < "$out/frame.times")
text=$(median < "$out/text.times")
picture=$(median < "$out/picture.times")
echo "file:       $input ($(stat -c %s "$input") bytes)"
echo "plain:      ${plain} ms (median of $runs)"
awk -v p="$plain" -v f="$frame" -v t="$text" -v i="$picture" 'BEGIN {
  printf "frame 10:   %d ms  (%+.1f%%)\n", f, (p > 0 ? 100 * (f - p) / p : 0)
  printf "text line:  %d ms  (%+.1f%%)\n", t, (p > 0 ? 100 * (t - p) / p : 0)
  printf "picture:    %d ms  (%+.1f%%)\n", i, (p > 0 ? 100 * (i - p) / p : 0)
}'
