#!/bin/sh
# Installs the Debian packages that the purposes named need, when they are
# missing. Needs root for apt-get; without root it only reports what is
# missing.
# usage: tools/install-deps.sh PURPOSE...
#   demo   the build of ./demo.sh: the compiler and CMake, and the test and
#          benchmark libraries, which the configure of the build looks for
#   test   the tests: the demo's, procps (sysctl, to lower vm.mmap_rnd_bits
#          for ThreadSanitizer) and GNU time (time), which the tests of
#          bench/long_run.sh run
#   cross  the Windows x64 cross build: the cross compiler with its headers
#          (the kernel's among them), import libraries (ntoskrnl's and
#          USBD's among them) and binutils, and this machine's compiler for
#          the build's image generator
#   wine   the runs of the Windows x64 build under wine64: Debian's wine64
#          (it keeps the program at /usr/lib/wine/wine64, off the PATH)
#   bench  the benchmarks: the demo's and GNU time for bench/long_run.sh
set -eu
usage="usage: tools/install-deps.sh PURPOSE...   (demo, test, cross, wine, bench)"
if [ $# -eq 0 ]; then
  echo "$usage" >&2
  exit 2
fi
build="cmake make g++ binutils libgtest-dev libgmock-dev googletest libbenchmark-dev"
pkgs=""
for purpose; do
  case $purpose in
    demo) pkgs="$pkgs $build" ;;
    test) pkgs="$pkgs $build procps time" ;;
    cross) pkgs="$pkgs cmake make g++ g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev binutils-mingw-w64-x86-64" ;;
    wine) pkgs="$pkgs wine64" ;;
    bench) pkgs="$pkgs $build time" ;;
    *)
      echo "install-deps: unknown purpose '$purpose'" >&2
      echo "$usage" >&2
      exit 2 ;;
  esac
done
# Each package once, however many purposes name it.
pkgs=$(printf '%s\n' $pkgs | awk '!seen[$0]++')
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
