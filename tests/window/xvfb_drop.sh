#!/bin/sh
# The window as a user meets it, under a real X server with a window manager:
# the first start opens centred, a PSD dragged from another program and
# dropped on the window is converted with F5, and the bitmap is byte for byte
# what the command line writes for the same file.
# A place saved far off the screen is pulled back with the window manager's
# frame wholly on the screen.
# Usage: xvfb_drop.sh KESTREL DRAG_SOURCE MAKE_PSD_PY
# With KESTREL_SHOT=file.png a failed conversion leaves a picture of the screen.
set -eu
kestrel=$1 drag_source=$2 make_psd=$3
. "$(dirname "$0")/../support/cannot_run.sh"
for tool in Xvfb xdotool openbox xprop xwininfo; do
  command -v "$tool" >/dev/null || cannot_run "$tool is not installed"
done

work=$(mktemp -d)
pids=""
cleanup() {
  for pid in $pids; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

# An ordinary user's home, configuration and lock folders.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME/Pictures" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR" "$work/cli"
chmod 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
export ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0"

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids="$! $pids"
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
openbox >"$work/openbox.log" 2>&1 &
pids="$! $pids"
sleep 1

python3 "$make_psd" "$HOME/Pictures/holiday photo.psd" rgb8 64 48

"$kestrel" >"$work/window.log" 2>&1 &
window_pid=$!
pids="$window_pid $pids"
title="Tessaline PSD to BMP 3.0"
window=$(timeout 30 xdotool search --sync --onlyvisible --name "^$title\$" | head -n 1)
sleep 1

# First start: centred on the 1280x800 screen (the frame aside).
eval "$(xdotool getwindowgeometry --shell "$window")"
centre_x=$((X + WIDTH / 2)) centre_y=$((Y + HEIGHT / 2))
if [ $((centre_x - 640)) -lt -20 ] || [ $((centre_x - 640)) -gt 20 ] ||
   [ $((centre_y - 400)) -lt -40 ] || [ $((centre_y - 400)) -gt 40 ]; then
  echo "the first start is not centred: $WIDTH x $HEIGHT at $X,$Y"; exit 1
fi

# Drag the file from the source window and drop it on the middle of the window.
"$drag_source" "$HOME/Pictures/holiday photo.psd" >"$work/drag.log" 2>&1 &
drag_pid=$!
pids="$drag_pid $pids"
source_window=$(timeout 30 xdotool search --sync --onlyvisible --name '^kestrel-drag-source$' | head -n 1)
sleep 0.5
xdotool mousemove --window "$source_window" 80 50 mousedown 1
sleep 0.3
for step in 1 2 3 4 5 6 7 8; do
  xdotool mousemove $((80 + (centre_x - 80) * step / 8)) $((650 + (centre_y - 650) * step / 8))
  sleep 0.1
done
sleep 0.3
xdotool mouseup 1
wait "$drag_pid" || true
grep -q '^dropped$' "$work/drag.log" || { echo "the window refused the drop"; cat "$work/drag.log"; exit 1; }

# Convert with F5, then close the progress window with Return and quit with Alt+X.
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
sleep 0.3
xdotool key --clearmodifiers F5
out="$HOME/Pictures/holiday photo.bmp"
for _ in $(seq 100); do [ -s "$out" ] && break; sleep 0.1; done
[ -s "$out" ] || { echo "nothing converted"; cat "$work/window.log" "$work/drag.log"; [ -n "${KESTREL_SHOT:-}" ] && import -window root "$KESTREL_SHOT"; exit 1; }
sleep 0.5
xdotool key --clearmodifiers Return
sleep 0.3
xdotool windowactivate --sync "$window" 2>/dev/null || true
xdotool key --clearmodifiers alt+x
for _ in $(seq 50); do kill -0 "$window_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$window_pid" 2>/dev/null; then echo "Alt+X did not end the window"; exit 1; fi
config=$(find "$XDG_CONFIG_HOME" -name config.ini)
grep -q "^Recent Out Folders = $HOME/Pictures/" "$config" || { echo "the preferences do not hold the output folder"; exit 1; }

# Saved far right and below: the window comes back with its frame (title
# bar and borders, as the window manager reports them) on the screen.
sed -i 's/^X *=.*/X = 3000/; s/^Y *=.*/Y = 2000/' "$config"
"$kestrel" >"$work/window2.log" 2>&1 &
window_pid=$!
pids="$window_pid $pids"
window=$(timeout 30 xdotool search --sync --onlyvisible --name "^$title\$" | head -n 1)
sleep 1.5
# xwininfo gives the window's own place on the screen (xdotool's counts the frame in).
info=$(xwininfo -id "$window")
X=$(echo "$info" | sed -n 's/.*Absolute upper-left X: *//p')
Y=$(echo "$info" | sed -n 's/.*Absolute upper-left Y: *//p')
WIDTH=$(echo "$info" | sed -n 's/.*Width: *//p')
HEIGHT=$(echo "$info" | sed -n 's/.*Height: *//p')
extents=$(xprop -id "$window" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
set -- $extents
left=$1 right=$2 top=$3 bottom=$4
if [ $((X - left)) -lt 0 ] || [ $((Y - top)) -lt 0 ] || [ $((X + WIDTH + right)) -gt 1280 ] ||
   [ $((Y + HEIGHT + bottom)) -gt 800 ]; then
  echo "the frame is off the screen: $WIDTH x $HEIGHT at $X,$Y, frame $extents"; exit 1
fi
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
xdotool key --clearmodifiers alt+x
for _ in $(seq 50); do kill -0 "$window_pid" 2>/dev/null || break; sleep 0.1; done

# The command line's bitmap of the same file.
"$kestrel" -q -i "$HOME/Pictures/holiday photo.psd" -o "$work/cli/"
cmp "$out" "$work/cli/holiday photo.bmp"
echo "dropped, converted, identical to the command line's bitmap, and pulled back with its frame"
