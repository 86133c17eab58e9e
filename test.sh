#!/bin/sh
# Builds and runs every test: once as a normal build (build/) and once with
# AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/). Installs the
# Debian packages it needs first when run as root. Fails on any failure.
set -eu
cd "$(dirname "$0")"
./tools/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 4)

run() {
  dir=$1
  shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs")
}

run build
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run build-asan -DKV_SANITIZE=ON -DKV_BENCH=OFF
echo "all tests passed (normal and sanitizer builds)"
