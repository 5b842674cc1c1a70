#!/usr/bin/env bash
# Starts the window program CORVANE (an installed copy) on the X server of $DISPLAY
# for the Wine prefix PREFIX, and succeeds when its main window shows rather than a
# box ("提示": no library, a library that cannot be read or copied). With
# CORVANE_SHOTS=DIR the screen is kept as DIR/installed-window.png.
#
# usage: installed-window.sh CORVANE PREFIX
set -euo pipefail
# shellcheck source=/dev/null
. "$(dirname "$0")/../gui/x11/shown-titles.sh"
corvane=$1
prefix=$2
pid=
cleanup() {
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT
WINEPREFIX=$prefix QT_QPA_PLATFORM=xcb "$corvane" &
pid=$!

titles=$(shown_titles)
if [ -z "$titles" ] || grep -qx "提示" <<<"$titles"; then
  echo "installed-window: expected the main window, the X server shows: ${titles:-none}" >&2
  exit 1
fi
if [ -n "${CORVANE_SHOTS:-}" ] && command -v import >/dev/null; then
  sleep 1 # the status bar's count is written once the library is read
  mkdir -p "$CORVANE_SHOTS"
  import -window root "$CORVANE_SHOTS/installed-window.png"
fi
echo "installed-window: the main window \"$titles\" shows"
