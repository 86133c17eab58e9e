#!/bin/sh
# Checks that a program's objects reach what the DLLs export only through
# their import pointers ("__imp_" references, as __declspec(dllimport) makes
# them): a direct reference to an exported function, datum or vtable means the
# import mark was lost, and the linker's thunks or auto-import hide that.
# Symbols are read with $NM (nm); the DLLs' exports from their import
# libraries.
# usage: check_imp_refs.sh <object>... -- <import library>...
set -eu
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
: > "$tmp/objects"
while [ $# -gt 0 ] && [ "$1" != -- ]; do
  echo "$1" >> "$tmp/objects"
  shift
done
[ $# -gt 1 ] || { echo "usage: check_imp_refs.sh <object>... -- <import library>..." >&2; exit 2; }
shift
# What the import libraries define an import pointer for, without the prefix.
"${NM:-nm}" "$@" | sed -n 's/^[0-9a-f]* I __imp_//p' | sort -u > "$tmp/exports"
if [ ! -s "$tmp/exports" ]; then
  echo "no import pointers in the import libraries: $*"
  exit 1
fi
fail=0
while IFS= read -r obj; do
  "${NM:-nm}" -u "$obj" | sed 's/^[[:space:]]*U //' | sort -u > "$tmp/undefined"
  sed -n 's/^__imp_//p' "$tmp/undefined" | grep -Fxf "$tmp/exports" > "$tmp/imported" || true
  grep -Fxf "$tmp/exports" "$tmp/undefined" > "$tmp/direct" || true
  if [ -s "$tmp/direct" ]; then
    "${CXXFILT:-c++filt}" < "$tmp/direct" | sed "s|^|$(basename "$obj") reaches without __imp_: |"
    fail=1
  elif [ ! -s "$tmp/imported" ]; then
    echo "$(basename "$obj") reaches nothing of the DLLs through __imp_"
    fail=1
  else
    echo "$(basename "$obj") reaches the DLLs through __imp_ only ($(wc -l < "$tmp/imported") symbols)"
  fi
done < "$tmp/objects"
exit $fail
