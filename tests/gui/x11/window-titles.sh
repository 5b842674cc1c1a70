#!/usr/bin/env bash
# The title the X server sees is the one the program sets: a box captioned "提示" is
# "提示", with no application name added by Qt. Starts a copy of corvane in a fresh
# folder (no library: it says so in that box) on a virtual X server and reads the
# title with xprop. Exit 77 (skipped) when xvfb-run or xprop is missing.
set -euo pipefail
# shellcheck source=/dev/null
. "$(dirname "$0")/shown-titles.sh"
corvane=$1
for tool in xvfb-run xprop xwininfo; do
  command -v "$tool" >/dev/null || { echo "window-titles: $tool missing" >&2; exit 77; }
done

if [ "${2:-}" != --inside ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$corvane" --inside
fi

dir=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  rm -rf "$dir"
}
trap cleanup EXIT
cp "$corvane" "$dir/corvane"
WINEPREFIX=$dir/prefix QT_QPA_PLATFORM=xcb ASAN_OPTIONS=detect_leaks=0 "$dir/corvane" &
pid=$!

# The titles of the windows shown, once there is one.
titles=$(shown_titles)
if [ "$titles" != "提示" ]; then
  echo "window-titles: expected one window \"提示\", the X server shows: ${titles:-none}" >&2
  exit 1
fi
echo "window-titles: the box is titled 提示 on the X server"
