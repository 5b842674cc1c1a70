# Read by kill-journal.sh --other-fs, inside a private mount namespace whose tmpfs at
# $KILL_JOURNAL_TMPFS holds the journal: a 300 MB file is moved across file systems.
# shellcheck shell=bash disable=SC2154
export XDG_STATE_HOME=$KILL_JOURNAL_TMPFS/state
failures=0
rm -rf "$work/p" "$XDG_STATE_HOME"
cp -a "$demo" "$work/p"
big=$work/p/drive_c/autorun.inf
head -c 300M /dev/urandom >"$big"
sum=$(cksum <"$big")
before=$(state "$work/p")

# Whether the file is whole in the prefix or whole in the journal.
kept() {
  [ -f "$big" ] && [ "$(cksum <"$big")" = "$sum" ] && return 0
  local f
  while IFS= read -r f; do
    [ "$(cksum <"$f")" = "$sum" ] && return 0
  done < <(find "$XDG_STATE_HOME" -path '*/item-*.files/*' -type f ! -name '.*')
  return 1
}

check_undo() {
  local out rc
  out=$("$cli" undo --prefix "$work/p" 2>&1)
  rc=$?
  if [ $rc -ne 0 ] && ! { [ $rc -eq 2 ] && [[ $out == *"no repair run"* ]]; }; then
    echo "FAIL: $1: undo exited $rc: $out"
    failures=$((failures + 1))
  fi
  if [ "$(state "$work/p")" != "$before" ]; then
    echo "FAIL: $1: the prefix differs after undo"
    diff <(echo "$before") <(state "$work/p") | head -20
    failures=$((failures + 1))
    rm -rf "$work/p"
    cp -a "$demo" "$work/p"
    head -c 300M /dev/urandom >"$big"
    sum=$(cksum <"$big")
    before=$(state "$work/p")
  fi
}

start=$(date +%s%N)
"$cli" repair --prefix "$work/p" --library "$work/cvdb.db" 46 >/dev/null 2>&1
max=$((($(date +%s%N) - start) / 1000000 + 1))
[ -e "$big" ] && { echo "FAIL: the repair left the file in the prefix"; failures=$((failures + 1)); }
check_undo "the move itself"

for ((i = 1; i <= 6; i++)); do
  rm -rf "$XDG_STATE_HOME"
  "$cli" repair --prefix "$work/p" --library "$work/cvdb.db" 46 >/dev/null 2>&1 &
  pid=$!
  ms=$(((RANDOM * 32768 + RANDOM) % max))
  sleep "$(printf '%d.%03d' $((ms / 1000)) $((ms % 1000)))"
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  if ! kept; then
    echo "FAIL: move $i killed after ${ms} ms: the file is neither in the prefix nor whole in the journal"
    failures=$((failures + 1))
  fi
  check_undo "move $i killed after ${ms} ms"
done

# An undo killed while it copies the file back is finished by the next.
for ((i = 1; i <= 3; i++)); do
  rm -rf "$XDG_STATE_HOME"
  "$cli" repair --prefix "$work/p" --library "$work/cvdb.db" 46 >/dev/null 2>&1
  start=$(date +%s%N)
  "$cli" undo --prefix "$work/p" >/dev/null 2>&1 &
  pid=$!
  ms=$(((RANDOM * 32768 + RANDOM) % max))
  sleep "$(printf '%d.%03d' $((ms / 1000)) $((ms % 1000)))"
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  if ! kept; then
    echo "FAIL: undo $i killed after ${ms} ms: the file is neither in the prefix nor whole in the journal"
    failures=$((failures + 1))
  fi
  out=$("$cli" undo --prefix "$work/p" 2>&1)
  if grep -v -e '已撤销' <<<"$out" | grep -q .; then
    echo "FAIL: undo $i killed after ${ms} ms: the next undo: $out"
    failures=$((failures + 1))
  fi
  if [ "$(state "$work/p")" != "$before" ]; then
    echo "FAIL: undo $i killed after ${ms} ms: the prefix differs after the next undo"
    diff <(echo "$before") <(state "$work/p") | head -20
    failures=$((failures + 1))
  fi
done
echo "a 300 MB file moved across file systems in ${max} ms, 9 kills, $failures failures"
[ $failures -eq 0 ]
