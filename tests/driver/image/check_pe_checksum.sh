#!/bin/sh
# Checks the checksum in a PE image's optional header against the image's
# bytes, as the platform's loader does for a driver: the sum of the file's
# 16-bit little-endian words (the checksum field itself taken as zero, an odd
# last byte as a word of its own), folded to 16 bits after every addition,
# plus the file's length. So an image left without a checksum (0) fails.
# usage: check_pe_checksum.sh <image>
set -eu
if [ $# -ne 1 ]; then
  echo "usage: check_pe_checksum.sh <image>" >&2
  exit 2
fi
od -An -v -tu1 "$1" | awk -v name="$(basename "$1")" '
{ for (i = 1; i <= NF; i++) b[n++] = $i }
function le32(o) { return b[o] + 256 * b[o + 1] + 65536 * b[o + 2] + 16777216 * b[o + 3] }
END {
  pe = n >= 64 ? le32(60) : -1
  if (pe < 0 || pe + 92 > n || b[pe] != 80 || b[pe + 1] != 69 || b[pe + 2] != 0 || b[pe + 3] != 0) {
    print name ": not a PE image"
    exit 1
  }
  field = pe + 88
  stored = le32(field)
  sum = 0
  for (o = 0; o < n; o += 2) {
    if (o >= field && o < field + 4) continue
    sum += b[o] + 256 * (o + 1 < n ? b[o + 1] : 0)
    sum = sum % 65536 + int(sum / 65536)
  }
  sum = sum % 65536 + int(sum / 65536)
  sum += n
  if (stored != sum) {
    printf "%s: PE checksum %08x, the bytes give %08x\n", name, stored, sum
    exit 1
  }
  printf "%s: PE checksum %08x correct\n", name, stored
}'
