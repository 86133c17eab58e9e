#!/bin/sh
# Runs the imports check over a saved import table, as that of a DLL in a
# folder that holds the files named ("NAME/" a folder, "NAME@" a link that
# leads nowhere).
# usage: check_saved_imports.sh <saved objdump -p output> <DLL's name> [<file beside it>...]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp "$1" "$tmp/$2"
dll=$tmp/$2
shift 2
for f; do
  case $f in
    */) mkdir "$tmp/$f" ;;
    *@) ln -s "$tmp/nowhere" "$tmp/${f%@}" ;;
    *) : > "$tmp/$f" ;;
  esac
done
rc=0
OBJDUMP=$here/saved_table.sh "$here/check_imports.sh" "$dll" || rc=$?
exit $rc
