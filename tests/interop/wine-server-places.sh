#!/usr/bin/env bash
# A running wineserver is seen wherever Debian's Wine keeps its server folder: below
# /run/user/<uid> in a desktop session, else in the folder the prefix's "wineserver"
# file names below $TMPDIR. Runs in a private mount namespace with a tmpfs on
# /run/user (as root); exit 77 when that cannot be had.
set -uo pipefail

if [ "${1:-}" != --inside ]; then
  if [ "$(id -u)" != 0 ] || ! unshare -m true 2>/dev/null; then
    echo "SKIP: needs root and unshare -m for a private /run/user"
    exit 77
  fi
  exec unshare -m "$0" --inside "$@"
fi
cli=$2
pack=$3
demo=$4

mount --make-rprivate / 2>/dev/null
if ! mount -t tmpfs -o mode=0755 tmpfs /run/user; then
  echo "SKIP: cannot mount a tmpfs on /run/user"
  exit 77
fi
work=$(mktemp -d)
export WINEDEBUG=-all HOME=$work TMPDIR=$work/tmp
mkdir -m 0700 "$TMPDIR"
cleanup() {
  for p in "$work"/p*; do WINEPREFIX=$p wineserver -k 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Starts a persistent wineserver for prefix $1 and waits until its socket is there
# (it holds its lock by then).
start_server() {
  WINEPREFIX=$1 wineserver -p
  for _ in $(seq 100); do
    if [ -n "$(find "/run/user/$(id -u)" "$TMPDIR" -path '*/server-*/socket' 2>/dev/null)" ]; then
      return 0
    fi
    sleep 0.1
  done
  fail "wineserver for $1 made no socket"
}

stop_server() {
  WINEPREFIX=$1 wineserver -k
  WINEPREFIX=$1 wineserver -w
}

# While Wine runs nothing is written: reg set and a repair are refused, naming Wine.
expect_refused() {
  local prefix=$1 where=$2 err rc
  err=$("$cli" reg --prefix "$prefix" set HKCU Environment Lost REG_SZ x 2>&1 >/dev/null)
  rc=$?
  if [ $rc != 2 ] || ! grep -q "Wine is running" <<<"$err"; then
    fail "$where: reg set while Wine runs (exit $rc): $err"
  fi
  err=$("$cli" repair --prefix "$prefix" --library "$work/cvdb.db" 46 2>&1)
  rc=$?
  if [ $rc != 2 ] || ! grep -q "Wine 正在前缀" <<<"$err"; then
    fail "$where: repair while Wine runs (exit $rc): $err"
  fi
}

"$cli" rules import "$pack" --library "$work/cvdb.db" >/dev/null

# A desktop session: the runtime folder is there.
mkdir -m 0700 "/run/user/$(id -u)"
cp -a "$demo" "$work/p1"
start_server "$work/p1"
ls -d "/run/user/$(id -u)"/wine/server-*/lock >/dev/null 2>&1 ||
  fail "Wine did not keep its folder below /run/user"
expect_refused "$work/p1" "/run/user"
stop_server "$work/p1"
out=$("$cli" reg --prefix "$work/p1" set HKCU Environment Kept REG_SZ x 2>&1)
[ "$out" = true ] || fail "/run/user: reg set after Wine ended: $out"
[ -e "$work/p1/wineserver" ] && fail "/run/user: a wineserver file was made in the prefix"

# No runtime folder: Wine names a folder below $TMPDIR in the prefix's file.
rm -rf "/run/user/$(id -u)"
cp -a "$demo" "$work/p2"
start_server "$work/p2"
[ -f "$work/p2/wineserver" ] || fail "Wine wrote no wineserver file"
expect_refused "$work/p2" "named folder"
stop_server "$work/p2"

# Corvane's lock comes first: it names the folder as Wine would, and the wineserver
# started afterwards uses the same one.
cp -a "$demo" "$work/p3"
out=$("$cli" reg --prefix "$work/p3" set HKCU Environment First REG_SZ x 2>&1)
[ "$out" = true ] || fail "named folder: reg set: $out"
name=$(cat "$work/p3/wineserver" 2>/dev/null)
if [ -z "$name" ] || [ ! -d "$TMPDIR/$name" ]; then
  fail "Corvane named no folder below \$TMPDIR"
fi
[ "$(stat -c %a "$work/p3/wineserver" 2>/dev/null)" = 400 ] ||
  fail "the wineserver file is not of mode 0400"
start_server "$work/p3"
[ "$(cat "$work/p3/wineserver")" = "$name" ] || fail "Wine took another folder than Corvane"
expect_refused "$work/p3" "folder named by Corvane"
stop_server "$work/p3"

if [ $failures -gt 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "Wine's server folder was found in every place"
