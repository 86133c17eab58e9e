#!/bin/sh
# Checks that a deliverable exports exactly its API.
# usage: check_exports.sh <shared-object> <pattern-file>
#        check_exports.sh --pe <dll> <pattern-file>
# The pattern file holds one extended regular expression a line (blank lines and
# lines starting with # are skipped), matched against whole demangled names.
# Every defined dynamic symbol, whatever its kind (functions and data, global,
# weak or unique, the standard library's instantiations included), must match
# a pattern, and every alternative of a pattern must match a symbol: each
# combination of the alternatives of its groups, optional groups ("(...)?")
# left as they stand, so that a class or function a group names is reported
# when it is missing. Only the sanitizers' symbols and the loader's own symbols are
# skipped. The symbols are read with $NM (nm).
# With --pe the names are those of a Windows DLL's export table, read with
# $OBJDUMP (objdump) and demangled with $CXXFILT (c++filt); the one pattern
# after a line "#elf-only" names what only the shared object exports, and is
# skipped, and no type information name is looked for (the DLL keeps them).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
fPe=0
if [ "$1" = "--pe" ]; then
  fPe=1
  shift
fi
lib=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
awk -v fPe=$fPe '
  /^[[:space:]]*#elf-only[[:space:]]*$/ { fSkip = fPe; next }
  /^[[:space:]]*(#|$)/ { next }
  { if (!fSkip) print; fSkip = 0 }' "$2" > "$tmp/patterns"
awk -f "$here/../../cmake/kv_export_patterns.awk" -f "$here/export_alternatives.awk" "$tmp/patterns" > "$tmp/alternatives"
if [ $fPe -eq 1 ]; then
  # The compiler exports a dllexport class's type information and vtable
  # from its DLL, not the type information name they point at.
  sed -i '/^typeinfo name for /d' "$tmp/alternatives"
  "${OBJDUMP:-objdump}" -p "$lib" > "$tmp/pe"
  sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] //p' "$tmp/pe" |
    "${CXXFILT:-c++filt}" -i > "$tmp/syms"
else
  "${NM:-nm}" -D --defined-only -C "$lib" > "$tmp/nm"
  sed -E 's/^[0-9a-f]* *[A-Za-z] //' "$tmp/nm" |
    grep -Ev '^(_init|_fini|_edata|_end|__bss_start)$|^__(odr_)?asan|^__ubsan|^__sanitizer' > "$tmp/syms" || true
fi
fail=0
if grep -Exv -f "$tmp/patterns" "$tmp/syms" > "$tmp/extra"; then
  sed 's/^/unexpected export: /' "$tmp/extra"
  fail=1
fi
while IFS= read -r p; do
  if ! grep -Eqx -- "$p" "$tmp/syms"; then
    echo "missing export: $p"
    fail=1
  fi
done < "$tmp/alternatives"
[ $fail -eq 0 ] && echo "exports of $(basename "$lib") as expected ($(wc -l < "$tmp/syms") symbols)"
exit $fail
