#!/bin/sh
# Runs the link map check over a saved map first edited with a sed script.
# usage: check_saved_map.sh <saved map> <sed script> <library file name>...
set -eu
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
sed -e "$2" "$1" > "$tmp/kavorqir.map"
shift 2
rc=0
"$here/check_link_map.sh" "$tmp/kavorqir.map" "$@" || rc=$?
exit $rc
