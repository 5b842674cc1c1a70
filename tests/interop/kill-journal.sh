#!/usr/bin/env bash
# A repair killed at any moment leaves a journal whose undo brings the prefix back to
# its state before the run. corvane-cli repairs every planted item of a copy of the demo
# prefix and is killed with SIGKILL after a random delay; `undo` then runs, and the
# prefix must be as it was, file by file (registry files without the times Wine keeps
# per key, which a write sets).
#
# Then: two repairs of one prefix started at once (20 times) never share a run, and
# undoing what they did brings the prefix back; an undo killed at its Nth rename (strace
# injects SIGKILL) is finished by the next `undo` without --force.
#
# With --other-fs (run as root: a private mount namespace with a tmpfs for the journal,
# skipped with exit 77 when that cannot be made): a large file's move into a journal on
# another file system, killed at random moments, leaves the original or a whole copy in
# the journal, never neither, and undo brings the prefix back; so does an undo killed
# while it copies the file back.
#
# usage: kill-journal.sh [--other-fs] CORVANE-CLI STARTER-PACK DEMO-PREFIX [RUNS]
set -uo pipefail
otherfs=0
if [ "${1:-}" = --other-fs ]; then
  otherfs=1
  shift
fi
cli=$1
pack=$2
demo=$3
runs=${4:-100}

# The journal on a tmpfs of its own: the script again, in a private mount namespace.
if [ $otherfs = 1 ] && [ -z "${KILL_JOURNAL_TMPFS:-}" ]; then
  if [ "$(id -u)" != 0 ] || ! command -v unshare >/dev/null ||
    ! unshare -m sh -c 'mount -t tmpfs tmpfs /mnt' 2>/dev/null; then
    echo "SKIP: cannot mount a tmpfs in a private mount namespace (needs root and unshare)"
    exit 77
  fi
  # shellcheck disable=SC2016 # expanded by the inner shell
  exec unshare -m sh -c 'mount -t tmpfs -o size=1g tmpfs /mnt &&
    KILL_JOURNAL_TMPFS=/mnt exec "$0" --other-fs "$@"' "$0" "$@"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export HOME=$work XDG_STATE_HOME=$work/state
unset WINEPREFIX

# The prefix as text: every file and link, registry files value by value, Wine's own
# "wineserver" file left out.
prefix_state=$(cd "$(dirname "$0")/../support" && pwd)/prefix-state.sh
state() { "$prefix_state" text "$1"; }

"$cli" rules import "$pack" --library "$work/cvdb.db" >/dev/null || exit 1
if [ $otherfs = 1 ]; then
  # shellcheck source=tests/interop/kill-journal-otherfs.sh
  . "$(dirname "$0")/kill-journal-otherfs.sh"
  exit $?
fi
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

# Undoes every run of the prefix, newest first; each must end with every item undone.
undo_all() {
  local run out
  for run in $("$cli" history --prefix "$work/p" | grep -E '^[0-9]' | cut -f1); do
    out=$("$cli" undo --prefix "$work/p" "$run" 2>&1)
    if [ $? -gt 1 ] || grep -v -e '已撤销' <<<"$out" | grep -q .; then
      echo "FAIL: $1: undo of run $run: $out"
      failures=$((failures + 1))
    fi
  done
}

# Two repairs at once: one is refused (exit 2), or each has a run of its own.
for ((i = 1; i <= 20; i++)); do
  rm -rf "$work/p" "$work/state"
  cp -a "$demo" "$work/p"
  "$cli" repair --prefix "$work/p" --library "$work/cvdb.db" 1 46 >/dev/null 2>"$work/a.err" &
  a=$!
  "$cli" repair --prefix "$work/p" --library "$work/cvdb.db" 24 47 >/dev/null 2>"$work/b.err" &
  b=$!
  wait $a
  ra=$?
  wait $b
  rb=$?
  for r in "$ra:$work/a.err" "$rb:$work/b.err"; do
    # Refused by the journal's claim, or earlier by the lock a registry write of the
    # other command holds; never taken for a running Wine.
    if [ "${r%%:*}" = 2 ] && ! grep -q -e "another Corvane command" -e "另一个 Corvane 命令" "${r#*:}"; then
      echo "FAIL: concurrent try $i: refused without saying why: $(cat "${r#*:}")"
      failures=$((failures + 1))
    fi
  done
  # Each run holds the items of one command only.
  if "$cli" history --prefix "$work/p" | awk '/^[0-9]/ { if (r) print r; r = "" } /^ / { r = r " " $1 }
      END { if (r) print r }' | grep -v -x -e ' 1 46' -e ' 24 47' | grep -q .; then
    echo "FAIL: concurrent try $i: a run holds items of both repairs"
    "$cli" history --prefix "$work/p"
    failures=$((failures + 1))
  fi
  undo_all "concurrent try $i"
  if [ "$(state "$work/p")" != "$before" ]; then
    echo "FAIL: concurrent try $i (exits $ra, $rb): the prefix differs after undo"
    diff <(echo "$before") <(state "$work/p") | head -20
    failures=$((failures + 1))
  fi
done
echo "20 concurrent repairs done, $failures failures so far"

# An undo killed at its Nth rename, then undone again without --force.
if command -v strace >/dev/null && strace -f -o /dev/null true 2>/dev/null; then
  for n in 1 2 4 7 11 16 23 31 40; do
    rm -rf "$work/p" "$work/state"
    cp -a "$demo" "$work/p"
    # shellcheck disable=SC2086
    "$cli" repair --prefix "$work/p" --library "$work/cvdb.db" $ids >/dev/null 2>&1
    (strace -f -o /dev/null -e inject=rename,renameat,renameat2:signal=SIGKILL:when=$n \
      "$cli" undo --prefix "$work/p") >/dev/null 2>&1
    undo_all "undo killed at rename $n"
    if [ "$(state "$work/p")" != "$before" ]; then
      echo "FAIL: undo killed at rename $n: the prefix differs after undo"
      diff <(echo "$before") <(state "$work/p") | head -20
      failures=$((failures + 1))
    fi
  done
  echo "undo killed at 9 renames, $failures failures in all"
else
  echo "strace cannot run here: the undo kills were not tried"
fi
[ $failures -eq 0 ]
