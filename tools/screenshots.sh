#!/usr/bin/env bash
# Screenshots of the desktop program on a real X server with a window
# manager (Xvfb and openbox), at the default size and at 125 % scaling:
# every page, the folder dialog, a context menu, a question, a run in
# progress and its closing box, the batch viewer, the help and the about
# box.  The pictures go to OUT_DIR (default build/screenshots/).
#
#   tools/screenshots.sh [BUILD_DIR] [OUT_DIR]
#
# BUILD_DIR is a build with the desktop program (default build/dev; built
# here if needed).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" xvfb openbox x11-utils imagemagick

build=${1:-$root/build/dev}
out=${2:-$root/build/screenshots}
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
fi
cmake --build "$build" --target screenshot_tour dalimor-cli

work=$(mktemp -d)
cleanup() {
  [ -n "${wm:-}" ] && kill "$wm" 2>/dev/null || true
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The runs of the tour keep their history to themselves.
export XDG_DATA_HOME="$work/data"

# A display of its own.
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
wm=$!
sleep 1

cli="$build/cli/dalimor-cli"
rm -rf "$out"
for scale in 1 1.25; do
  inst="$work/Kalmeo $scale"
  batch="$work/Přenos z pobočky $scale"
  "$cli" demo "$inst" >/dev/null
  mkdir -p "$batch"
  "$cli" init --installation "$inst" --company "Pobočka Brno" --folder "$batch" --yes >/dev/null 2>&1
  "$cli" send --installation "$inst" --company "Pobočka Brno" --folder "$batch" --all \
    --message "Dávka za březen" --yes >/dev/null 2>&1
  shots="$out/scale-$scale"
  XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" QT_SCALE_FACTOR=$scale LANG=cs_CZ.UTF-8 \
    ASAN_OPTIONS=detect_leaks=0 \
    "$build/tools/screenshot_tour" "$inst" "$batch" "$shots" >/dev/null
  rm -rf "$shots"/*.ini "$shots"/*.cfg "$shots"/historie
done
echo "Screenshots: $out"
