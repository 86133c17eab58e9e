#!/bin/sh
# Builds and runs the main job: the burst-counter demo hixburst against a
# simulated HIX-5316 in slot 0, through the kavorqir driver on the stand-in
# platform. Installs the Debian packages it needs first when run as root.
# Arguments go to hixburst (for example --param CCH=2 --input1 200000); see
# ./demo.sh --help. The build goes to build/ (or $KV_BUILD_DIR).
set -eu
cd "$(dirname "$0")"
./tools/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 4)
dir=${KV_BUILD_DIR:-build}
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$dir" -j "$jobs" --target hixburst > /dev/null
# Windows always sets USERPROFILE, where the burst library looks for its log
# file "kvdiag.log"; here the home folder plays that part.
USERPROFILE=${USERPROFILE:-${HOME:-/}}
export USERPROFILE
exec "$dir/bin/hixburst" "$@"
