#!/usr/bin/env bash
# An installed copy writes only in the user's folders. The Debian package's files are
# extracted into a temporary root made read-only; HOME and the XDG folders point into a
# temporary home. corvane-cli from that root scans a copy of the demo prefix with the
# shipped library, repairs what it found and scans again; the dates must be in
# $XDG_CONFIG_HOME/corvane/Setting.ini, the user's library in $XDG_DATA_HOME/corvane/,
# and nothing under the root may change. Then the window starts from the root on a
# virtual X server (when there is one) and must show its main window, not a box.
# With CORVANE_SHOTS=DIR the screen is kept as DIR/installed-window.png.
#
# usage: installed-copy.sh PACKAGE-FOLDER DEMO-PREFIX
# Exit 77 (skipped) when the folder holds no corvane_*.deb (cmake --build BUILD
# --target package makes it; scripts/test does).
set -euo pipefail
packages=$1
demo=$2
deb=$(ls -t "$packages"/corvane_*_amd64.deb 2>/dev/null | head -n 1 || true)
if [ -z "$deb" ]; then
  echo "installed-copy: no corvane_*_amd64.deb in $packages" >&2
  exit 77
fi

work=$(mktemp -d)
cleanup() {
  chmod -R u+w "$work"
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "installed-copy: FAIL: $*" >&2
  exit 1
}

root=$work/root
dpkg-deb -x "$deb" "$root"
chmod -R a-w "$root"
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
export XDG_CACHE_HOME=$work/cache XDG_STATE_HOME=$work/state
unset WINEPREFIX
mkdir -p "$HOME"
cp -a "$demo" "$work/prefix"
listing() { (cd "$root" && find . -printf '%p %y %s %T@ %m\n' | LC_ALL=C sort); }
before=$(listing)
cli=$root/usr/bin/corvane-cli

# The help of the installed window program names the user's files.
help=$("$root/usr/bin/corvane" --help)
for part in "$XDG_DATA_HOME/corvane/cvdb.db" "$XDG_CONFIG_HOME/corvane/Setting.ini" \
  "$XDG_CACHE_HOME/corvane/downsoft/" "$root/usr/share/corvane/"; do
  grep -qF "$part" <<<"$help" || fail "corvane --help does not name $part"
done

rc=0
found=$("$cli" scan --prefix "$work/prefix") || rc=$?
[ "$rc" -eq 1 ] || fail "the scan exited $rc, expected 1 (items found)"
[ "$(wc -l <<<"$found")" -eq 12 ] || fail "the scan found, not the 12 planted items: $found"
# shellcheck disable=SC2046
"$cli" repair --prefix "$work/prefix" $(cut -f1 <<<"$found") >/dev/null ||
  fail "the repair of the found items failed"
"$cli" scan --prefix "$work/prefix" >/dev/null || fail "a scan after the repair still finds items"

today=$(date +%Y-%m-%d)
settings=$XDG_CONFIG_HOME/corvane/Setting.ini
grep -qx "ScanTime=$today" "$settings" || fail "no ScanTime=$today in $settings"
grep -qx "FixTime=$today" "$settings" || fail "no FixTime=$today in $settings"
cmp -s "$XDG_DATA_HOME/corvane/cvdb.db" "$root/usr/share/corvane/cvdb.db" ||
  fail "the user's library $XDG_DATA_HOME/corvane/cvdb.db is not the shipped one"
[ "$(listing)" = "$before" ] || fail "files under the installed root changed"

# The window, from the same root, on a virtual X server.
if command -v xvfb-run >/dev/null && command -v xprop >/dev/null; then
  xvfb-run -a -s "-screen 0 1024x768x24" "$(dirname "$0")/installed-window.sh" \
    "$root/usr/bin/corvane" "$work/prefix" || fail "the installed window did not start"
  [ "$(listing)" = "$before" ] || fail "the window changed files under the installed root"
fi
echo "installed-copy: scan, repair and dates in the user's folders; the root is unchanged"
