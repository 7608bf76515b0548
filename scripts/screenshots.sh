#!/usr/bin/env bash
# Takes the screenshots software centres show (data/screenshots/, named in the AppStream metadata) from the real
# window: the built program started on the test rig's display with a fresh copy of its program folder, the window
# grabbed with ffmpeg's X11 capture once it is mapped. Run it after a change to the window's look and commit the
# pictures; the maker's web server serves them at the addresses the metadata gives.
#   scripts/screenshots.sh                    from the build in build/
#   CLAVORA_BUILD_DIR=DIR scripts/screenshots.sh
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=${CLAVORA_BUILD_DIR:-build}
program_dir="$BUILD/program"
[ -x "$program_dir/clavora" ] || { echo "No program in $program_dir: build first" >&2; exit 1; }

# shellcheck source=scripts/headless-rig.sh
source scripts/headless-rig.sh
work=$(mktemp -d)
pid=""
finish() {
    if [ -n "$pid" ]; then
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
    rig_stop
    rm -rf "$work"
}
trap finish EXIT
rig_start

# A copy of its own, so the shot shows the shipped bindings and options and the build's folder gets no data files.
cp -a "$program_dir" "$work/program"
mkdir -p "$work/home"
HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" LC_ALL=C.UTF-8 LANG=C.UTF-8 \
    "$work/program/clavora" >"$work/output.txt" 2>&1 &
pid=$!

window=""
for _ in $(seq 1 200); do
    window=$(xdotool search --onlyvisible --pid "$pid" --name '^Zemtrak - Clavora$' 2>/dev/null | head -n1 || true)
    [ -n "$window" ] && break
    kill -0 "$pid" 2>/dev/null || { cat "$work/output.txt" >&2; exit 1; }
    sleep 0.1
done
[ -n "$window" ] || { echo "The window did not appear" >&2; cat "$work/output.txt" >&2; exit 1; }

# The display strip scrolls: wait until the window has drawn, then take it where it stands.
eval "$(xdotool getwindowgeometry --shell "$window")"
for _ in $(seq 1 50); do
    ffmpeg -loglevel error -y -f x11grab -draw_mouse 0 -video_size "${WIDTH}x${HEIGHT}" -i "$DISPLAY+$X,$Y" -frames:v 1 \
        "$work/shot.png"
    # A window not drawn yet is one flat colour: its picture compresses to almost nothing.
    [ "$(stat -c %s "$work/shot.png")" -gt 20000 ] && break
    sleep 0.1
done
mkdir -p data/screenshots
cp "$work/shot.png" data/screenshots/main-window.png
echo "Wrote data/screenshots/main-window.png (${WIDTH}x${HEIGHT})"
