#!/usr/bin/env bash
# The Wine pack on a fresh wineboot prefix, each problem planted and each repair
# judged by Wine itself: Chinese glyphs in the font Wine gives "宋体" and "SimSun"
# under LANG=C, `wine cmd /c ver` with kernel32 overridden, the version Wine reports,
# and shell folders that link into the home. Undo brings each problem back.
set -uo pipefail
cli=$1
pack=$2
glyphs=$3
if [ ! -f "$glyphs" ]; then
  echo "SKIP: no glyph test program (g++-mingw-w64-x86-64 is not installed)"
  exit 77
fi

work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all HOME=$work LANG=C LC_ALL=C
export XDG_STATE_HOME=$work/state
cleanup() {
  wineserver -k 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

wineboot -i >/dev/null 2>&1 </dev/null
wineserver -w
"$cli" rules import "$pack" --library "$work/cvdb.db" >/dev/null || exit 1

stop_wine() {
  wineserver -k 2>/dev/null
  wineserver -w
}
# The ID of the found item whose name starts with $1; empty when it is not found.
found() { "$cli" scan --prefix "$WINEPREFIX" --library "$work/cvdb.db" | awk -F'\t' -v n="$1" 'index($2, n) == 1 { print $1 }'; }
repair() {
  stop_wine
  local out
  out=$("$cli" repair --prefix "$WINEPREFIX" --library "$work/cvdb.db" "$1" 2>&1)
  grep -q "修复成功" <<<"$out" || fail "repair of item $1: $out"
}
undo() {
  stop_wine
  local out
  out=$("$cli" undo --prefix "$WINEPREFIX" 2>&1)
  grep -q "已撤销" <<<"$out" || fail "undo: $out"
}
# Nothing red in a fresh prefix.
if "$cli" scan --prefix "$WINEPREFIX" --library "$work/cvdb.db" | grep -q $'\t危险$'; then
  fail "a fresh prefix has a red item"
fi

glyphs_of() { timeout 120 wine "$glyphs" "$1" 2>/dev/null | tr -d '\r'; }
ver() { timeout 120 wine cmd /c ver 2>&1 | tr -d '\r' | grep -o 'Windows [0-9.]*'; }

# Chinese fonts: boxes before, glyphs after, boxes again after undo.
for face in simsun songti; do
  case $(glyphs_of $face) in *missing) ;; *) fail "$face has glyphs before the repair: $(glyphs_of $face)" ;; esac
done
fonts=$(found "中文显示为方框（以")
if [ -z "$fonts" ]; then
  fail "no font item found (the host has no CJK font Wine lists?)"
else
  repair "$fonts"
  for face in simsun songti; do
    case $(glyphs_of $face) in *present) ;; *) fail "$face after the repair: $(glyphs_of $face)" ;; esac
  done
  [ -z "$(found "中文显示为方框（以")" ] || fail "the font item is still found after its repair"
  undo
  case $(glyphs_of simsun) in *missing) ;; *) fail "simsun after undo: $(glyphs_of simsun)" ;; esac
fi

# Windows 10: a suggestion on a fresh prefix; ver says 10.0 after, 6.1 after undo.
[ "$(ver)" = "Windows 6.1.7601" ] || fail "a fresh prefix reports $(ver)"
version=$(found "前缀报告的系统是 Windows 7")
[ -n "$version" ] || fail "the Windows 10 suggestion is not found in a fresh prefix"
repair "$version"
case $(ver) in "Windows 10.0"*) ;; *) fail "after the repair ver prints $(ver)" ;; esac
undo
[ "$(ver)" = "Windows 6.1.7601" ] || fail "after undo ver prints $(ver)"

# kernel32 overridden: nothing starts; after the repair ver works again.
stop_wine
"$cli" reg --prefix "$WINEPREFIX" set HKCU 'Software\Wine\DllOverrides' kernel32 REG_SZ native >/dev/null
[ -z "$(ver)" ] || fail "ver still runs with kernel32 overridden"
core=$(found "Wine 核心 DLL 被替换")
[ -n "$core" ] || fail "the core DLL item is not found"
repair "$core"
[ "$(ver)" = "Windows 6.1.7601" ] || fail "after the core DLL repair ver prints [$(ver)]"

# Isolation: the shell folders that link into the home become folders of the prefix;
# the home is untouched, wineboot -u keeps them folders, undo brings the links back.
stop_wine
user=$(find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 ! -name Public | head -1)
echo mine >"$HOME/canary.txt"
links=""
for f in Desktop Documents Downloads Music Pictures Videos; do
  [ -L "$user/$f" ] && links="$links $f=$(readlink "$user/$f")"
done
[ -n "$links" ] || fail "a fresh prefix has no shell folder linked to the home"
isolation=$(found "前缀里的程序能读写你的主目录")
[ -n "$isolation" ] || fail "the isolation item is not found"
repair "$isolation"
folders() {
  for f in Desktop Documents Downloads Music Pictures Videos; do
    if [ -L "$user/$f" ] || [ ! -d "$user/$f" ]; then fail "$1: $f is not a folder of the prefix"; fi
  done
}
folders "after the repair"
[ "$(cat "$HOME/canary.txt")" = mine ] || fail "the repair changed the home"
wineboot -u >/dev/null 2>&1 </dev/null
stop_wine
folders "after wineboot -u"
undo
now=""
for f in Desktop Documents Downloads Music Pictures Videos; do
  [ -L "$user/$f" ] && now="$now $f=$(readlink "$user/$f")"
done
[ "$now" = "$links" ] || fail "after undo the links are [$now], were [$links]"
[ "$(cat "$HOME/canary.txt")" = mine ] || fail "undo changed the home"

if [ $failures -gt 0 ]; then
  echo "$failures failures"
  exit 1
fi
echo "the Wine pack repairs what Wine itself sees"
