#!/bin/sh
# Builds and runs every test: once as a normal build (build/), once with
# AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/) and once with
# ThreadSanitizer (build-tsan/). Installs the Debian packages it needs first
# when run as root. Fails on any failure, and on any sanitizer report.
set -eu
cd "$(dirname "$0")"
./tools/install-deps.sh
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

# ThreadSanitizer needs its fixed memory layout: with more address
# randomisation than it expects (vm.mmap_rnd_bits above 28) its programs stop
# at once with "unexpected memory mapping". Then the randomisation is lowered
# for the machine (root only). Turning randomisation off for the tests instead
# (setarch -R) is no way out: the stack then lies above the highest user
# address of the platform, and the stand-in's probes refuse it.
tsan_layout() {
  probe="$1/bin/platform_kernel_test"
  "$probe" --gtest_list_tests >/dev/null 2>&1 && return 0
  if [ "$(id -u)" -eq 0 ] && sysctl -q -w vm.mmap_rnd_bits=28 &&
    "$probe" --gtest_list_tests >/dev/null 2>&1; then
    echo "vm.mmap_rnd_bits lowered to 28 for ThreadSanitizer" >&2
    return 0
  fi
  echo "ThreadSanitizer programs do not start here; try as root, or lower vm.mmap_rnd_bits to 28" >&2
  "$probe" --gtest_list_tests >/dev/null || true
  return 1
}

build build
check build
# The user-mode libraries as Windows x64 DLLs (build-win64/), cross-compiled;
# the build checks their export tables. Nothing of it runs here.
build build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
build build-asan -DKV_SANITIZE=ON -DKV_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 check build-asan
build build-tsan -DKV_SANITIZE_THREAD=ON -DKV_BENCH=OFF
tsan_layout build-tsan
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 check build-tsan
echo "all tests passed (normal, address and thread sanitizer builds)"
