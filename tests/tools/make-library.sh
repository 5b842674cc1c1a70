#!/usr/bin/env bash
# The build step that makes the rule library from a pack: it makes the library, makes
# it again without a trace when nobody changed it, keeps a library someone changed as
# .old, and leaves the library alone when the pack does not import.
set -euo pipefail
cli=$1 pack=$2 script=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
lib=$work/bin/cvdb.db
mkdir -p "$work/bin"
make_library() { cmake -DCLI="$cli" -DPACK="$1" -DLIBRARY="$lib" -P "$script"; }
fail() { echo "FAIL: $*"; exit 1; }

make_library "$pack" >/dev/null
[ -f "$lib" ] || fail "no library made"
"$cli" rules export --library "$lib" | cmp -s - "$pack" || fail "the library is not the pack"
[ ! -e "$lib.old" ] && [ ! -e "$lib.new" ] || fail "files left beside a first library"

# Made again from the same pack: the unchanged library is simply replaced.
make_library "$pack" >/dev/null
[ ! -e "$lib.old" ] || fail "an unchanged library was kept as .old"

# A library that no longer exports as it was made is kept.
"$cli" rules export --library "$lib" | sed '0,/<name>[^<]*</s//<name>changed in the editor</' \
  >"$work/edited.xml"
rm "$lib"
"$cli" rules import "$work/edited.xml" --library "$lib" >/dev/null
make_library "$pack" >/dev/null
"$cli" rules export --library "$lib.old" | cmp -s - "$work/edited.xml" ||
  fail "the changed library was not kept as .old"
"$cli" rules export --library "$lib" | cmp -s - "$pack" || fail "the new library is not the pack"

# A pack that does not import fails the step and changes nothing.
cp "$lib" "$work/before.db"
echo '<rulepack version="1"><item>' >"$work/broken.xml"
if make_library "$work/broken.xml" >/dev/null 2>&1; then fail "a broken pack was accepted"; fi
cmp -s "$lib" "$work/before.db" || fail "a broken pack changed the library"
[ ! -e "$lib.new" ] || fail "a broken pack left $lib.new"
echo "the rule library step keeps what it must"
