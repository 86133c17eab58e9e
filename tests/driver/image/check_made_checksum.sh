#!/bin/sh
# Runs the checksum check over a small image made here: "MZ", the header's
# offset 0x40, "PE" and two zero bytes, 84 bytes of a pattern, the checksum
# given at offset 0x98, the text "kvqir load" (166 bytes), and with "odd"
# one byte more.
# usage: check_made_checksum.sh <checksum, 8 hex digits> [odd]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
oct() { printf '\\%03o' "$1"; }
{
  printf 'MZ'
  i=2; while [ $i -lt 60 ]; do printf '\000'; i=$((i + 1)); done
  printf '\100\000\000\000PE\000\000'
  i=0; while [ $i -lt 84 ]; do printf "$(oct $(( (i * 7 + 3) % 256 )))"; i=$((i + 1)); done
  c=$1
  for o in 7 5 3 1; do printf "$(oct $((0x$(printf '%s' "$c" | cut -c$o-$((o + 1))))))"; done
  printf 'kvqir load'
  [ "${2:-}" = odd ] && printf 'Z'
} > "$tmp/made.sys"
rc=0
"$here/check_pe_checksum.sh" "$tmp/made.sys" || rc=$?
exit $rc
