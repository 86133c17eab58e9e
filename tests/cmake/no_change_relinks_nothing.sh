#!/bin/sh
# Configures and builds a small project that uses the build helpers, then
# configures it again with nothing changed: the second build links nothing.
# usage: no_change_relinks_nothing.sh <cmake> <generator> <c++ compiler> <folder>
# The project is built in a fresh folder of its own in <folder>, removed after.
set -eu
cmake=$1
generator=$2
cxx=$3
work=$(mktemp -d "$4/relink.XXXXXX")
trap 'rm -rf "$work"' EXIT
src=$(dirname "$0")/relink
"$cmake" -S "$src" -B "$work" -G "$generator" -DCMAKE_CXX_COMPILER="$cxx" > /dev/null
"$cmake" --build "$work" > /dev/null
"$cmake" -S "$src" -B "$work" > /dev/null
out=$("$cmake" --build "$work")
printf '%s\n' "$out"
if printf '%s\n' "$out" | grep -q Linking; then
  echo "no_change_relinks_nothing: the build after a configure with nothing changed linked again"
  exit 1
fi
