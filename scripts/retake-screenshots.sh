#!/bin/sh
# Retakes the README's pictures of the main window and of the preferences
# dialog as an ordinary user sees them: a home of /home/alex (a tmpfs in a
# private mount namespace, so nothing outside changes), Xvfb with openbox,
# driven by xdotool. Needs root for the namespace.
# Usage: scripts/retake-screenshots.sh BUILD_DIR
set -eu
build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
if [ "${KESTREL_IN_NAMESPACE:-}" != 1 ]; then
  exec env KESTREL_IN_NAMESPACE=1 unshare --mount sh "$0" "$build"
fi
mount -t tmpfs none /home
export HOME=/home/alex XDG_CONFIG_HOME=/home/alex/.config XDG_RUNTIME_DIR=/home/alex/.run
mkdir -p "$HOME/Pictures" "$HOME/Pictures/Converted" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM
cd "$HOME"

exec 3>"$HOME/.display"
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$HOME/.display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$HOME/.display")"
openbox >/dev/null 2>&1 &
wm=$!
trap 'kill $wm $xvfb 2>/dev/null || true' EXIT
sleep 1

python3 "$source_dir/tools/make_psd.py" "$HOME/Pictures/holiday photo.psd" rgb8 64 48
"$build/kestrel" >/dev/null 2>&1 &
window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Tessaline PSD to BMP 3.0$' | head -n 1)
sleep 1
xdotool windowactivate --sync "$window"
xdotool type --delay 5 "$HOME/Pictures/holiday photo.psd"
xdotool mousemove --window "$window" 150 128 click 1
xdotool type --delay 5 "$HOME/Pictures/Converted/"
xdotool key F5
sleep 2
xdotool key Return
sleep 0.5
import -window "$window" "$source_dir/window/screenshot.png"

# The preferences dialog at its Transform page, from the keyboard.
xdotool key alt+c
sleep 0.3
xdotool key p
dialog=$(timeout 10 xdotool search --sync --onlyvisible --name '^Preferences$' | head -n 1)
sleep 0.5
xdotool key Down Down Down
sleep 0.5
import -window "$dialog" "$source_dir/window/preferences.png"
xdotool key Escape
sleep 0.3
xdotool key alt+x
sleep 1
