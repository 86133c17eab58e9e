#!/bin/sh
# Builds and runs the main job: the burst-counter demo hixburst against a
# simulated HIX-5316 in slot 0, through the kavorqir driver on the stand-in
# platform. Installs the Debian packages its build needs first when run as
# root (tools/install-deps.sh demo: not the cross compiler).
# Arguments go to hixburst (for example --param CCH=2 --input1 200000); see
# ./demo.sh --help. The build goes to build/ in the source folder (or
# $KV_BUILD_DIR, taken from the source folder when relative).
# The demo runs in the caller's working folder and environment: the burst
# library looks for its log file "kvdiag.log" there and, when there is none,
# in the folder named by USERPROFILE (it says so on standard error when that
# is not set).
set -eu
src=$(cd "$(dirname "$0")" && pwd)
"$src/tools/install-deps.sh" demo
jobs=$(nproc 2>/dev/null || echo 4)
dir=${KV_BUILD_DIR:-build}
case $dir in
  /*) ;;
  *) dir=$src/$dir ;;
esac
if [ ! -x "$dir/bin/hixburst" ]; then
  echo "demo: building hixburst in $dir (a first build: about half a minute on 4 free cores, longer on fewer or busy ones)" >&2
fi
cmake -S "$src" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$dir" -j "$jobs" --target hixburst > /dev/null
exec "$dir/bin/hixburst" "$@"
