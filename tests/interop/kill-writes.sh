#!/usr/bin/env bash
# A write killed at any moment leaves every file whole: the old one or the new one.
# corvane-cli is killed with SIGKILL at random moments during `reg set` on a large
# hive, during a repair of the demo prefix and during `rules import`; after each kill
# the files are checked, the next command must leave no temporary file behind, and
# Wine's own reg.exe (in a private prefix) must load what was left.
#
# usage: kill-writes.sh CORVANE-CLI STARTER-PACK DEMO-PREFIX [RUNS]
set -uo pipefail
cli=$1
pack=$2
demo=$3
runs=${4:-50}

work=$(mktemp -d)
export WINEDEBUG=-all HOME=$work
unset WINEPREFIX
cleanup() {
  for p in "$work"/wine-*; do [ -d "$p" ] && WINEPREFIX=$p wineserver -k 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# Starts a command and kills it -9 after a random delay of up to $1 milliseconds.
killed() {
  local max=$1
  shift
  "$@" >/dev/null 2>&1 &
  local pid=$!
  local ms=$(((RANDOM * 32768 + RANDOM) % max))
  sleep "$(printf '%d.%03d' $((ms / 1000)) $((ms % 1000)))"
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  return 0
}

# Milliseconds a command takes when it is left to finish.
timed() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  echo $(((end - start) / 1000000 + 1))
}

# Our temporary files in the folders given: the registry's, the library's, the INI's.
leftovers() {
  find "$@" -maxdepth 1 \( -name '.*.reg.??????' -o -name '*.encrypt-??????*' \
    -o -name '*.import-??????*' -o -name '.*.ini.??????' \) 2>/dev/null
}

# A registry file's content without the times Wine keeps per key (a write sets the
# time of the keys it changes).
whole() {
  [ -f "$1" ] || { echo missing; return; }
  sed -E 's/^(\[.*\]) [0-9]+$/\1/; /^#time=/d' "$1" | sha256sum | cut -d' ' -f1
}

# After a kill: when it left temporary files in the folders before "--", the command
# after "--" runs to its end and must take them away.
next_leaves_nothing() {
  local label=$1 dirs=()
  shift
  while [ "$1" != "--" ]; do dirs+=("$1"); shift; done
  shift
  [ -z "$(leftovers "${dirs[@]}")" ] && return
  killed_left=$((killed_left + 1))
  "$@" >/dev/null 2>&1
  local left
  left=$(leftovers "${dirs[@]}")
  if [ -n "$left" ]; then
    fail "$label: the next command left $(echo "$left" | xargs -n1 basename | tr '\n' ' ')"
    rm -f $left
  fi
}
killed_left=0

# Wine loads the registry files of prefix $1: they go into a private copy of the
# wineboot prefix, reg.exe queries a key of each hive, and the wineserver stops after.
wine_loads() {
  local label=$1 files=$2 private="$work/wine-check"
  rm -rf "$private"
  cp -a "$work/wine-base" "$private"
  cp "$files"/system.reg "$files"/user.reg "$files"/userdef.reg "$private"/ 2>/dev/null
  local key out
  for key in 'HKLM\Software' 'HKCU\Software' 'HKU\.Default'; do
    if ! out=$(WINEPREFIX=$private wine reg query "$key" 2>&1 </dev/null); then
      fail "$label: Wine cannot read $key: $(echo "$out" | head -3)"
    fi
  done
  WINEPREFIX=$private wineserver -k 2>/dev/null
  WINEPREFIX=$private wineserver -w 2>/dev/null
}

# --- A fresh prefix made by Wine -----------------------------------------------------
WINEPREFIX="$work/wine-base" wineboot -i >/dev/null 2>&1 </dev/null
WINEPREFIX="$work/wine-base" wineserver -w

# --- reg set on a large hive ----------------------------------------------------------
big="$work/wine-big"
cp -a "$work/wine-base" "$big"
# About 15,000 more keys in system.reg.
awk 'BEGIN { for (i = 0; i < 15000; i++)
  printf "\n[Software\\\\CorvaneBulk\\\\Key%05d] 1700000000\n#time=1d9a0b0c0d0e0f0\n\"Value\"=\"text %d\"\n\"Number\"=dword:%08x\n", i, i, i }' \
  >>"$big/system.reg"
cp "$big/system.reg" "$work/system.reg.old"
echo "large hive: $(($(stat -c %s "$big/system.reg") / 1024)) KB"
reg() { "$cli" reg --prefix "$big" "$@"; }
full=$(timed reg set HKLM 'Software\Corvane' Killed REG_SZ reference)
cp "$big/system.reg" "$work/system.reg.new"
echo "reg set takes $full ms"
for ((i = 0; i < runs; i++)); do
  cp "$work/system.reg.old" "$big/system.reg"
  killed "$full" reg set HKLM 'Software\Corvane' Killed REG_SZ reference
  if [ "$(whole "$big/system.reg")" != "$(whole "$work/system.reg.old")" ] &&
    [ "$(whole "$big/system.reg")" != "$(whole "$work/system.reg.new")" ]; then
    fail "reg set run $i: system.reg is neither the old nor the new file"
  fi
  next_leaves_nothing "reg set run $i" "$big" -- reg set HKLM 'Software\Corvane' Next REG_SZ x
done
wine_loads "reg set" "$big"

# --- repair of the demo prefix --------------------------------------------------------
lib="$work/cvdb.db"
"$cli" rules import "$pack" --library "$lib" >/dev/null
prefix="$work/demo"
cp -a "$demo" "$prefix"
mapfile -t ids < <("$cli" scan --prefix "$prefix" --library "$lib" --json |
  grep -o '"id": *[0-9]*' | grep -o '[0-9]*$')
[ "${#ids[@]}" -gt 0 ] || fail "the demo prefix shows no items to repair"
# Every state a registry file passes through: one item repaired after another.
states="$work/states"
: >"$states"
snapshot() {
  local f
  for f in system.reg user.reg userdef.reg; do echo "$f $(whole "$prefix/$f")"; done >>"$states"
}
snapshot
for id in "${ids[@]}"; do
  "$cli" repair --prefix "$prefix" --library "$lib" "$id" >/dev/null 2>&1
  snapshot
done
rm -rf "$prefix"
cp -a "$demo" "$prefix"
full=$(timed "$cli" repair --prefix "$prefix" --library "$lib" "${ids[@]}")
echo "repair of ${#ids[@]} items takes $full ms"
for ((i = 0; i < runs; i++)); do
  rm -rf "$prefix"
  cp -a "$demo" "$prefix"
  killed "$full" "$cli" repair --prefix "$prefix" --library "$lib" "${ids[@]}"
  for f in system.reg user.reg userdef.reg; do
    grep -qxF "$f $(whole "$prefix/$f")" "$states" ||
      fail "repair run $i: $f is neither an old nor a new file"
  done
  if [ -f "$prefix/drive_c/autorun.inf" ] &&
    ! cmp -s "$prefix/drive_c/autorun.inf" "$demo/drive_c/autorun.inf"; then
    fail "repair run $i: autorun.inf is half written"
  fi
  next_leaves_nothing "repair run $i" "$prefix" "$prefix/drive_c" "$(dirname "$cli")" -- \
    "$cli" repair --prefix "$prefix" --library "$lib" "${ids[@]}"
  [ "$i" -eq 0 ] && wine_loads "repair" "$prefix"
done

# --- rules import ---------------------------------------------------------------------
lib="$work/import/cvdb.db"
mkdir -p "$work/import"
full=$(timed "$cli" rules import "$pack" --library "$lib")
"$cli" rules export --library "$lib" >"$work/pack.new"
echo "rules import takes $full ms"
for ((i = 0; i < runs; i++)); do
  rm -f "$lib"
  killed "$full" "$cli" rules import "$pack" --library "$lib"
  if [ -e "$lib" ]; then
    # A library that is there is the whole new one.
    if ! "$cli" rules export --library "$lib" 2>/dev/null | cmp -s - "$work/pack.new"; then
      fail "import run $i: the library left is not the imported one"
    fi
  fi
  # The next import of the same library, made afresh.
  next_leaves_nothing "import run $i" "$work/import" -- \
    sh -c 'rm -f "$1" && exec "$2" rules import "$3" --library "$1"' _ "$lib" "$cli" "$pack"
done

echo "kills that left temporary files: $killed_left"
if [ "$failures" -gt 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "every killed write left whole files"
