#!/bin/sh
# Checks that programs built with ThreadSanitizer start on this machine, before
# anything builds or runs one (building a test tree runs its test programs to
# list their cases).
#
# The runtime of g++ 12 needs its fixed memory layout: with more address
# randomisation than it expects (vm.mmap_rnd_bits above 28 on x86-64) its
# programs stop at once with "unexpected memory mapping", or now and then.
# Only root may read the setting (/proc/sys/vm/mmap_rnd_bits is mode 0600):
# where it can be read and is above 28, the check stops; where it cannot, a
# probe program that starts passes the check without a word, and one that
# stops with "unexpected memory mapping" stops it. Lowering the setting
# changes the whole machine until the next reboot, so it is done only when
# asked for with KV_LOWER_MMAP_RND_BITS=1 (as root, with sysctl of procps);
# otherwise the check stops with the command to run. A sysctl that leaves the
# setting as it was is reported. At 28 or below the setting is not what stops
# a program, and the check shows the program's own failure. Turning
# randomisation off for the tests instead (setarch -R) is no way out: the
# stack then lies above the highest user address of the platform, and the
# stand-in's probes refuse it.
#
# usage: tools/check-tsan-layout.sh
# The compiler command is $CXX, else c++; it may start with a launcher
# (CXX='ccache g++'). The setting is read from /proc/sys/vm/mmap_rnd_bits (or
# the file $KV_MMAP_RND_BITS_FILE names). Exit status 0 when such programs
# start, 1 when not.
set -eu
bitsMax=28
setting=${KV_MMAP_RND_BITS_FILE:-/proc/sys/vm/mmap_rnd_bits}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'int main() { return 0; }\n' > "$work/probe.cpp"
cxx=${CXX:-c++}
# The command is split into its words: a launcher, then the compiler.
if ! $cxx -fsanitize=thread "$work/probe.cpp" -o "$work/probe" > "$work/out" 2>&1; then
  echo "check-tsan-layout: $cxx does not build a program with ThreadSanitizer" \
    "(-fsanitize=thread; the compiler's runtime, libtsan, may be missing):" >&2
  cat "$work/out" >&2
  exit 1
fi

# bits: the setting, or nothing when it cannot be read as a number.
bits() {
  b=$(cat "$setting" 2>/dev/null) || b=
  case $b in
    '' | *[!0-9]*) ;;
    *) echo "$b" ;;
  esac
}

# fails TEXT: the probe's own failure, behind what the check knows.
fails() {
  echo "check-tsan-layout: a program built with ThreadSanitizer $1:" >&2
  cat "$work/out" >&2
  exit 1
}

starts() { "$work/probe" > "$work/out" 2>&1; }

# The runtime's own words when the layout does not fit.
mapping() { grep -q "unexpected memory mapping" "$work/out"; }

# lower WAS: lowers the setting (WAS, or nothing when it cannot be read) as
# asked, and stops unless programs start then.
lower() {
  from=${1:+ from $1}
  if ! sysctl -q -w vm.mmap_rnd_bits=$bitsMax; then
    echo "check-tsan-layout: vm.mmap_rnd_bits could not be lowered$from to $bitsMax" \
      "(as root, with sysctl of procps)" >&2
    exit 1
  fi
  now=$(bits)
  if [ -n "$now" ] && [ "$now" != $bitsMax ]; then
    echo "check-tsan-layout: sysctl -w vm.mmap_rnd_bits=$bitsMax did not lower the setting: it is $now" >&2
    exit 1
  fi
  if [ -z "$now" ] && ! starts && mapping; then
    echo "check-tsan-layout: sysctl -w vm.mmap_rnd_bits=$bitsMax did not lower the setting:" \
      "a program built with ThreadSanitizer still stops with \"unexpected memory mapping\":" >&2
    cat "$work/out" >&2
    exit 1
  fi
  echo "check-tsan-layout: vm.mmap_rnd_bits lowered$from to $bitsMax for ThreadSanitizer," \
    "for the whole machine until the next reboot" >&2
  starts || fails "still does not start"
  exit 0
}

# stop WHY: the command that lowers the setting, and exit.
stop() {
  cat >&2 <<MSG
ThreadSanitizer programs do not start here: $1
Lower it for the whole machine, until the next reboot, as root with
    sysctl -w vm.mmap_rnd_bits=$bitsMax
or let ./test.sh do that: KV_LOWER_MMAP_RND_BITS=1 ./test.sh (as root).
MSG
  exit 1
}

was=$(bits)
if [ -n "$was" ] && [ "$was" -gt "$bitsMax" ]; then
  [ "${KV_LOWER_MMAP_RND_BITS:-0}" = 1 ] && lower "$was"
  stop "vm.mmap_rnd_bits is $was, they need at most $bitsMax."
fi
starts && exit 0
if [ -n "$was" ]; then
  fails "does not start here, with vm.mmap_rnd_bits at $was"
fi
mapping || fails "does not start here"
[ "${KV_LOWER_MMAP_RND_BITS:-0}" = 1 ] && lower ""
cat "$work/out" >&2
stop "they stop with \"unexpected memory mapping\" (above), as with
vm.mmap_rnd_bits above $bitsMax; only root may read that setting ($setting)."
