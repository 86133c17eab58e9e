#!/bin/sh
# Builds and runs every test: once as a normal build (build/), once with
# AddressSanitizer and UndefinedBehaviorSanitizer (build-asan/) and once with
# ThreadSanitizer (build-tsan/). Installs the Debian packages it needs first
# when run as root. Fails on any failure, and on any sanitizer report.
set -eu
cd "$(dirname "$0")"
./tools/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 4)

# run <dir> [<wrapper>...] -- [<cmake option>...]
run() {
  dir=$1
  shift
  wrap=""
  while [ "$1" != "--" ]; do
    wrap="$wrap $1"
    shift
  done
  shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && $wrap ctest --output-on-failure -j "$jobs")
}

# ThreadSanitizer needs its fixed memory layout; with many bits of address
# randomisation (vm.mmap_rnd_bits) its programs stop at start with
# "unexpected memory mapping". Running the tests without randomisation
# avoids that where setarch may turn it off.
tsan_wrap=""
if setarch "$(uname -m)" -R true 2>/dev/null; then
  tsan_wrap="setarch $(uname -m) -R"
fi

run build --
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run build-asan -- -DKV_SANITIZE=ON -DKV_BENCH=OFF
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  run build-tsan $tsan_wrap -- -DKV_SANITIZE_THREAD=ON -DKV_BENCH=OFF
echo "all tests passed (normal, address and thread sanitizer builds)"
