#!/bin/sh
# Checks that Windows DLLs find every DLL they import: each name of a DLL's
# import table (read with $OBJDUMP -p, objdump) must be a file beside it, in
# its own folder, of that whole name, or one of the platform's own DLLs.
# Names are compared without regard to case, as the Windows loader does.
# usage: check_imports.sh <dll>...
set -eu
# The platform's DLLs that the deliverables and the toolchain's runtime DLLs
# import; any other must come with them.
platform=" kernel32.dll msvcrt.dll "
lower() { printf '%s\n' "$1" | tr '[:upper:]' '[:lower:]'; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fail=0
for dll; do
  dir=$(dirname "$dll")
  "${OBJDUMP:-objdump}" -p "$dll" > "$tmp/pe"
  # The files beside it (a link counts as the file it leads to; a folder or a
  # link that leads nowhere is no DLL).
  for f in "$dir"/* "$dir"/.[!.]*; do
    [ -f "$f" ] && basename "$f"
  done | tr '[:upper:]' '[:lower:]' > "$tmp/beside"
  names=$(sed -n 's/^[[:space:]]*DLL Name: //p' "$tmp/pe")
  found=1
  for n in $names; do
    case $platform in *" $(lower "$n") "*) continue ;; esac
    grep -qxF -- "$(lower "$n")" "$tmp/beside" && continue
    echo "$(basename "$dll") imports $n, which is neither beside it in $dir nor a platform DLL"
    found=0
    fail=1
  done
  [ $found -eq 0 ] || echo "imports of $(basename "$dll") found:" $names
done
exit $fail
