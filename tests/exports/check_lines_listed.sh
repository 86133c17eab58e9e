#!/bin/sh
# Checks that every expression of a pattern file (blank lines and # lines
# skipped) is a line of one of the lists given, as it stands there.
# usage: check_lines_listed.sh <pattern file> <list>...
set -eu
file=$1
shift
fail=0
while IFS= read -r line; do
  case $line in '' | '#'*) continue ;; esac
  if ! cat "$@" | grep -qxF -- "$line"; then
    echo "not a line of the lists: $line"
    fail=1
  fi
done < "$file"
[ $fail -eq 0 ] && echo "every line of $(basename "$file") is in the lists"
exit $fail
