#!/usr/bin/env bash
# A Wine prefix as text, or compared with a copy of it.
#   prefix-state.sh text PREFIX         every file and link, the registry files value by
#                                       value, as the values comparison sees them
#   prefix-state.sh bytes PREFIX COPY   every file, link and folder the same, byte by byte
#   prefix-state.sh values PREFIX COPY  every file and link the same; the registry files
#                                       value by value (without the times Wine keeps per
#                                       key, which a write sets, and in any order); Wine's
#                                       own "wineserver" file left out
set -uo pipefail
mode=$1

state() {
  (cd "$1" && find . \( -type f -o -type l \) ! -path ./wineserver -print |
    LC_ALL=C sort | while read -r f; do
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

case $mode in
text) state "$2" ;;
bytes) diff -r --no-dereference "$2" "$3" ;;
values) diff <(state "$2") <(state "$3") ;;
*)
  echo "usage: prefix-state.sh text PREFIX | bytes|values PREFIX COPY" >&2
  exit 2
  ;;
esac
