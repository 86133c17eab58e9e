#!/bin/sh
# Builds and runs every test: once as a normal build (build/), once with
# AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/) and once with
# ThreadSanitizer (build-tsan/), and builds the user-mode libraries as Windows
# x64 DLLs and the driver image with the cross compiler (build-win64/), which
# then run under wine64 (tests/wine/run_on_wine.sh). Installs the Debian
# packages of the tests, of the cross build and of wine64 first when run as
# root.
# Fails on any failure, and on any sanitizer report.
# KV_LOWER_MMAP_RND_BITS=1 lets it lower vm.mmap_rnd_bits for ThreadSanitizer
# (as root, for the whole machine until the next reboot) when that is needed.
set -eu
cd "$(dirname "$0")"
./tools/install-deps.sh test cross wine
# ThreadSanitizer programs must start here before any is built or run; the
# check changes no machine setting unless asked (see the script).
./tools/check-tsan-layout.sh
jobs=$(nproc 2>/dev/null || echo 4)

build() {
  dir=$1
  shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  cmake --build "$dir" -j "$jobs"
}

check() {
  (cd "$1" && ctest --output-on-failure -j "$jobs")
}

build build
check build
# The user-mode libraries as Windows x64 DLLs and the driver image
# (build-win64/), cross-compiled; the build checks their tables. Under wine64
# the image starts and stops as a kernel service, and the DLLs' two programs
# print what the same programs of the normal build print.
build build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
tests/wine/run_on_wine.sh build-win64 build
build build-asan -DKV_SANITIZE=ON -DKV_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 check build-asan
build build-tsan -DKV_SANITIZE_THREAD=ON -DKV_BENCH=OFF
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 check build-tsan
echo "all tests passed (normal, address and thread sanitizer builds; Windows build run under wine64)"
