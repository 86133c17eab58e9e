#!/bin/sh
# Checks that programs built with ThreadSanitizer start on this machine, before
# anything builds or runs one (building a test tree runs its test programs to
# list their cases).
#
# The runtime of g++ 12 needs its fixed memory layout: with more address
# randomisation than it expects (vm.mmap_rnd_bits above 28 on x86-64) its
# programs stop at once with "unexpected memory mapping", or now and then.
# Lowering the setting changes the whole machine until the next reboot, so it
# is done only when asked for with KV_LOWER_MMAP_RND_BITS=1 (as root);
# otherwise the check stops with the command to run. Turning randomisation off
# for the tests instead (setarch -R) is no way out: the stack then lies above
# the highest user address of the platform, and the stand-in's probes refuse it.
#
# usage: tools/check-tsan-layout.sh   (the compiler is $CXX, else c++)
# Exit status 0 when such programs start, 1 when not.
set -eu
bitsMax=28
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'int main() { return 0; }\n' > "$work/probe.cpp"
"${CXX:-c++}" -fsanitize=thread "$work/probe.cpp" -o "$work/probe"

bits() { sysctl -n vm.mmap_rnd_bits 2>/dev/null || echo 0; }

# starts: the probe starts and the layout is one the runtime always takes.
starts() {
  "$work/probe" > "$work/out" 2>&1 && [ "$(bits)" -le "$bitsMax" ]
}

starts && exit 0
if ! grep -q "unexpected memory mapping" "$work/out" && [ "$(bits)" -le "$bitsMax" ]; then
  echo "check-tsan-layout: a program built with ThreadSanitizer does not start here:" >&2
  cat "$work/out" >&2
  exit 1
fi
was=$(bits)
if [ "${KV_LOWER_MMAP_RND_BITS:-0}" = 1 ]; then
  if ! sysctl -q -w vm.mmap_rnd_bits=$bitsMax; then
    echo "check-tsan-layout: vm.mmap_rnd_bits could not be lowered from $was to $bitsMax (root only)" >&2
    exit 1
  fi
  echo "check-tsan-layout: vm.mmap_rnd_bits lowered from $was to $bitsMax for ThreadSanitizer," \
    "for the whole machine until the next reboot" >&2
  starts && exit 0
  echo "check-tsan-layout: a program built with ThreadSanitizer still does not start:" >&2
  cat "$work/out" >&2
  exit 1
fi
cat >&2 <<MSG
ThreadSanitizer programs do not start here: vm.mmap_rnd_bits is $was, they need at most $bitsMax.
Lower it for the whole machine, until the next reboot, as root with
    sysctl -w vm.mmap_rnd_bits=$bitsMax
or let ./test.sh do that: KV_LOWER_MMAP_RND_BITS=1 ./test.sh (as root).
MSG
exit 1
