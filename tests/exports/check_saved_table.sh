#!/bin/sh
# Runs the exports check over a saved table with the lines matching a pattern
# taken out, as a library that lacks those exports would give it.
# usage: check_saved_table.sh <elf|pe> <saved table> <pattern file> [<lines to take out>]
# (elf: saved nm -D --defined-only -C output; pe: saved objdump -p output)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
if [ -n "${4-}" ]; then
  grep -Ev -- "$4" "$2" > "$tmp/lib" || true
else
  cp "$2" "$tmp/lib"
fi
rc=0
if [ "$1" = pe ]; then
  OBJDUMP=$here/saved_table.sh "$here/check_exports.sh" --pe "$tmp/lib" "$3" || rc=$?
else
  NM=$here/saved_table.sh "$here/check_exports.sh" "$tmp/lib" "$3" || rc=$?
fi
exit $rc
