#!/usr/bin/env bash
# Corvane and Wine must agree on a prefix. Make a fresh prefix with wineboot, change
# its registry with corvane-cli while no wineserver runs, and ask Wine's own reg.exe
# what it sees; then compare the environment and paths corvane-cli computes with
# what Wine gives its programs. And the starter rule library finds nothing wrong with
# a fresh prefix.
set -euo pipefail
cli=$1
pack=$2

work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all HOME=$work
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

wineboot -i >/dev/null 2>&1 </dev/null
wineserver -w

"$cli" rules import "$pack" --library "$work/cvdb.db" >/dev/null
if ! found=$("$cli" scan --prefix "$WINEPREFIX" --library "$work/cvdb.db"); then
  echo "FAIL: the starter library finds items in a fresh prefix:"
  echo "$found"
  exit 1
fi

reg() { "$cli" reg --prefix "$WINEPREFIX" "$@"; }

# While a wineserver runs, nothing is written.
wineserver -p
sleep 0.5
if reg set HKCU Environment Refused REG_SZ x 2>/dev/null; then
  echo "FAIL: a write went through while wineserver ran"; exit 1
fi
wineserver -k
wineserver -w

reg set HKCU Environment CorvaneSz REG_SZ 'a "quoted" \back é 中文' >/dev/null
reg set HKCU Environment CorvaneExp REG_EXPAND_SZ '%SystemRoot%\x' >/dev/null
reg set HKCU Environment CorvaneDw REG_DWORD -5 >/dev/null
reg set HKLM 'Software\Microsoft' CorvaneImplied REG_SZ on-an-implied-key >/dev/null
reg set HKCC Software CorvaneConfig REG_SZ through-hkcc >/dev/null
# Software\Wow6432Node\Classes is a link to Software\Classes\Wow6432Node.
reg set HKLM 'Software\Wow6432Node\Classes\AppId' CorvaneLinked REG_SZ through-a-link >/dev/null
reg delete-key HKLM 'Software\Microsoft\Windows\CurrentVersion' 'App Paths' >/dev/null
reg delete-value HKLM 'Software\Microsoft\Windows NT\CurrentVersion' RegisteredOrganization >/dev/null

fail=0
expect() {
  local got=$1 want=$2
  if [ "$got" != "$want" ]; then
    echo "FAIL: wanted [$want], got [$got]"; fail=1
  fi
}
# Hex data continued onto a blank line ends there; a value added to its key stays a value.
printf '\n[Software\\\\CorvaneHex] 1\n"a"=hex:01,02,\\\n\n[Software\\\\CorvaneHex\\\\Next] 1\n' \
  >>"$WINEPREFIX/user.reg"
expect "$(reg set HKCU 'Software\CorvaneHex' z REG_SZ new)" true
# Two sections of one key are one key to Wine, the later value winning.
printf '\n[Software\\\\CorvaneDup] 1\n"v"="first"\n\n[Software\\\\CorvaneDup] 1\n"v"="second"\n' \
  >>"$WINEPREFIX/user.reg"
expect "$(reg read HKCU 'Software\CorvaneDup' v REG_SZ)" second
reg set HKCU 'Software\CorvaneDup' w REG_SZ added >/dev/null
# Software\Classes\Wow6432Node holds links to keys of Software\Classes: they go, their
# targets stay. (Wine makes the Wow6432Node keys again when it starts.)
expect "$(reg delete-key HKLM 'Software\Classes' Wow6432Node)" true
expect "$(reg key-exists HKLM 'Software\Classes' Wow6432Node)" false

# One wineserver answers every query.
wineserver -p
# Wine's services inherit the output of the program that starts them, so the output
# goes to a file: a pipe would stay open as long as they run.
query() {
  LC_ALL=C.UTF-8 wine reg query "$@" >"$work/query" 2>&1 </dev/null || true
  tr -d '\r' <"$work/query" | sed -n 's/^    //p'
}
exists() {
  if LC_ALL=C.UTF-8 wine reg query "$1" >/dev/null 2>&1 </dev/null; then echo yes; else echo no; fi
}
# reg.exe prints in the console's code page; its export is UTF-16 and keeps every character.
wine reg export 'HKCU\Environment' "$work/env.reg" /y >/dev/null 2>&1 </dev/null
expect "$(iconv -f UTF-16 -t UTF-8 "$work/env.reg" | tr -d '\r' | grep '^"CorvaneSz"')" \
  '"CorvaneSz"="a \"quoted\" \\back é 中文"'
expect "$(query 'HKCU\Environment' /v CorvaneExp)" 'CorvaneExp    REG_EXPAND_SZ    %SystemRoot%\x'
expect "$(query 'HKCU\Environment' /v CorvaneDw)" 'CorvaneDw    REG_DWORD    0xfffffffb'
expect "$(query 'HKCU\Environment' /v Refused)" ''
expect "$(query 'HKLM\Software\Microsoft' /v CorvaneImplied)" 'CorvaneImplied    REG_SZ    on-an-implied-key'
expect "$(query 'HKCC\Software' /v CorvaneConfig)" 'CorvaneConfig    REG_SZ    through-hkcc'
expect "$(query 'HKLM\Software\Microsoft\Windows\CurrentVersion\App Paths')" ''
expect "$(query 'HKLM\Software\Microsoft\Windows NT\CurrentVersion' /v RegisteredOrganization)" ''
expect "$(query 'HKLM\Software\Microsoft\Windows NT\CurrentVersion' /v CurrentBuildNumber)" \
  'CurrentBuildNumber    REG_SZ    7601'
expect "$(query 'HKLM\Software\Classes\AppId' /v CorvaneLinked)" 'CorvaneLinked    REG_SZ    through-a-link'
expect "$(query 'HKCU\Software\CorvaneHex' /v a)" 'a    REG_BINARY    0102'
expect "$(query 'HKCU\Software\CorvaneHex' /v z)" 'z    REG_SZ    new'
expect "$(query 'HKCU\Software\CorvaneDup' /v v)" 'v    REG_SZ    second'
expect "$(query 'HKCU\Software\CorvaneDup' /v w)" 'w    REG_SZ    added'
for key in AppID Protocols TypeLib; do
  expect "$key $(exists "HKLM\Software\Classes\\$key")" "$key yes"
done

# The environment corvane-cli computes for the prefix is the one Wine gives programs.
line='%SystemDrive%#%SystemRoot%#%windir%#%ProgramFiles%#%ProgramFiles(x86)%#%CommonProgramFiles%'
line+='#%ProgramData%#%ALLUSERSPROFILE%#%PUBLIC%#%USERPROFILE%#%APPDATA%#%LOCALAPPDATA%#%USERNAME%'
line+='#%COMPUTERNAME%#%HOMEDRIVE%#%HOMEPATH%#%TEMP%#%TMP%#%ComSpec%#%PATHEXT%#%OS%'
wine cmd /c echo "$line" >"$work/echo" 2>/dev/null </dev/null || true
expect "$(tr -d '\r' <"$work/echo")" "$("$cli" path --prefix "$WINEPREFIX" expand "$line")"
# And the files Wine installed are where a rule path says.
expect "$("$cli" path --prefix "$WINEPREFIX" exists '%WINDIR%\SYSTEM32\NOTEPAD.EXE' file)" true
expect "$("$cli" path --prefix "$WINEPREFIX" exists 'C:\windows\system32\drivers\*.sys' file)" true
expect "$("$cli" path --prefix "$WINEPREFIX" exists '<fonts>' folder)" true
wineserver -k
wineserver -w
# And what Wine saved back, corvane-cli reads.
expect "$(reg read HKCU Environment CorvaneSz REG_SZ)" 'a "quoted" \back é 中文'

# A wineserver that starts during a write either waits for it (Wine's lock is held
# from the check to the save) or refuses it: a write reported done is never lost.
for delay in 0 0.1 0.2 0.3 0.4 0.5 0.7; do
  reg set HKLM 'Software\Microsoft' "Race$delay" REG_SZ "v$delay" >"$work/race" 2>"$work/race.err" &
  writer=$!
  sleep "$delay"
  wine reg query 'HKLM\Software\Microsoft' /v "Race$delay" >/dev/null 2>&1 </dev/null || true
  code=0
  wait $writer || code=$?
  wineserver -k || true
  wineserver -w
  if [ $code -eq 0 ]; then
    expect "$(reg read HKLM 'Software\Microsoft' "Race$delay" REG_SZ)" "v$delay"
  else
    expect "$code $(grep -c '^corvane-cli reg: Wine is running for' "$work/race.err")" "2 1"
  fi
done

# Wine refuses a registry file that starts with a byte-order mark: it reads nothing of
# it and never writes it. corvane-cli refuses it too, naming it.
cp -a "$WINEPREFIX" "$work/bom"
printf '\357\273\277' | cat - "$work/bom/user.reg" >"$work/bom.reg"
mv "$work/bom.reg" "$work/bom/user.reg"
cp "$work/bom/user.reg" "$work/bom.before"
WINEPREFIX=$work/bom wine reg query 'HKCU\Environment' >"$work/query" 2>&1 </dev/null || true
WINEPREFIX=$work/bom wineserver -k || true
WINEPREFIX=$work/bom wineserver -w
expect "$(grep -c 'user.reg is not a valid registry file' "$work/query")" 1
expect "$(tr -d '\r' <"$work/query" | grep -c '^    TEMP')" 0
cmp -s "$work/bom/user.reg" "$work/bom.before" || { echo "FAIL: Wine wrote the file"; fail=1; }
if "$cli" reg --prefix "$work/bom" read HKCU Environment TEMP REG_SZ 2>"$work/err"; then
  echo "FAIL: corvane-cli read a file Wine refuses"; fail=1
fi
expect "$(grep -c "^corvane-cli reg: $work/bom/user.reg is not a Wine registry file" "$work/err")" 1
"$cli" reg --prefix "$work/bom" set HKCU Environment X REG_SZ 1 2>/dev/null || true
cmp -s "$work/bom/user.reg" "$work/bom.before" || { echo "FAIL: corvane-cli wrote the file"; fail=1; }

# A hijack only in the user's classes is in HKEY_CLASSES_ROOT: the starter library
# finds it and its repair mends the user's key, leaving the machine's as it was.
wine reg add 'HKCU\Software\Classes\exefile\shell\open\command' /ve /d 'C:\evil.exe "%1"' /f \
  >/dev/null 2>&1 </dev/null
wine reg export 'HKLM\Software\Classes\exefile' "$work/exefile.before" /y >/dev/null 2>&1 </dev/null
wineserver -k || true
wineserver -w
hijack=$("$cli" scan --prefix "$WINEPREFIX" --library "$work/cvdb.db" | grep 'exefile' | cut -f1 || true)
expect "$([ -n "$hijack" ] && echo found)" found
if [ -n "$hijack" ]; then
  "$cli" repair --prefix "$WINEPREFIX" --library "$work/cvdb.db" "$hijack" >/dev/null || true
fi
expect "$(query 'HKCR\exefile\shell\open\command' /ve | grep -c evil)" 0
expect "$(query 'HKCU\Software\Classes\exefile\shell\open\command' /ve)" '(Default)    REG_SZ    "%1" %*'
wine reg export 'HKLM\Software\Classes\exefile' "$work/exefile.after" /y >/dev/null 2>&1 </dev/null
cmp -s "$work/exefile.before" "$work/exefile.after" ||
  { echo "FAIL: HKLM\\Software\\Classes\\exefile changed"; fail=1; }
wineserver -k || true
wineserver -w

[ $fail -eq 0 ] && echo "Wine 8 and corvane-cli agree"
exit $fail
