#!/bin/sh
# Installs the Debian packages the build and the tests need, when they are
# missing. Needs root for apt-get; without root it only reports what is missing.
set -eu
# The build, the tests and the benchmarks; sysctl for the ThreadSanitizer
# check (procps); GNU time for bench/long_run.sh (time).
pkgs="cmake make g++ binutils"
pkgs="$pkgs libgtest-dev libgmock-dev googletest libbenchmark-dev"
pkgs="$pkgs procps time"
# The Windows x64 cross compiler of the DLL build, with its headers, import
# libraries and binutils.
pkgs="$pkgs g++-mingw-w64-x86-64-posix"
missing=""
for p in $pkgs; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "missing Debian packages:$missing (run as root to install them)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends $missing
