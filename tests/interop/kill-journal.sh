#!/usr/bin/env bash
# A repair killed at any moment leaves a journal whose undo brings the prefix back to
# its state before the run. corvane-cli repairs every planted item of a copy of the demo
# prefix and is killed with SIGKILL after a random delay; `undo` then runs, and the
# prefix must be as it was, file by file (registry files without the times Wine keeps
# per key, which a write sets).
#
# usage: kill-journal.sh CORVANE-CLI STARTER-PACK DEMO-PREFIX [RUNS]
set -uo pipefail
cli=$1
pack=$2
demo=$3
runs=${4:-100}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work XDG_STATE_HOME=$work/state
unset WINEPREFIX

# The prefix as text: every file and link; registry files value by value (each line
# with its key, in sorted order, without the times Wine keeps per key).
state() {
  (cd "$1" && find . \( -type f -o -type l \) -print | LC_ALL=C sort | while read -r f; do
    echo "== $f"
    if [ -L "$f" ]; then
      readlink "$f"
    elif [ "${f##*.}" = reg ]; then
      sed -E 's/^(\[.*\]) [0-9]+$/\1/; /^#time=/d' "$f" |
        awk '/^\[/ { key = $0 } { print key " :: " $0 }' | LC_ALL=C sort
    else
      cksum <"$f"
    fi
  done)
}

"$cli" rules import "$pack" --library "$work/cvdb.db" >/dev/null || exit 1
cp -a "$demo" "$work/p"
ids=$("$cli" scan --prefix "$work/p" --library "$work/cvdb.db" | cut -f1)
[ -n "$ids" ] || { echo "FAIL: the demo prefix shows nothing to repair"; exit 1; }
before=$(state "$work/p")
start=$(date +%s%N)
# shellcheck disable=SC2086
"$cli" repair --prefix "$work/p" --library "$work/cvdb.db" $ids >/dev/null 2>&1
max=$((($(date +%s%N) - start) / 1000000 + 1))

failures=0
undone=0
for ((i = 1; i <= runs; i++)); do
  rm -rf "$work/p" "$work/state"
  cp -a "$demo" "$work/p"
  # shellcheck disable=SC2086
  "$cli" repair --prefix "$work/p" --library "$work/cvdb.db" $ids >/dev/null 2>&1 &
  pid=$!
  ms=$(((RANDOM * 32768 + RANDOM) % max))
  sleep "$(printf '%d.%03d' $((ms / 1000)) $((ms % 1000)))"
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  out=$("$cli" undo --prefix "$work/p" 2>&1)
  rc=$?
  # A repair killed before its journal held a run changed nothing: there is no run.
  if [ $rc -ne 0 ] && ! { [ $rc -eq 2 ] && [[ $out == *"no repair run"* ]]; }; then
    echo "FAIL: run $i (killed after ${ms} ms): undo exited $rc: $out"
    failures=$((failures + 1))
  fi
  [ $rc -eq 0 ] && undone=$((undone + 1))
  if [ "$(state "$work/p")" != "$before" ]; then
    echo "FAIL: run $i (killed after ${ms} ms): the prefix differs after undo"
    diff <(echo "$before") <(state "$work/p") | head -20
    failures=$((failures + 1))
  fi
done
echo "$runs kills within ${max} ms, $undone undone from a journal, $failures failures"
[ $failures -eq 0 ]
