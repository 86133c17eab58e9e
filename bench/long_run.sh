#!/bin/sh
# The main job over a long run: hixburst (as ./demo.sh runs it) with a short
# and a long count of bursts, each run three times. Prints the peak memory
# (maximum resident set) and the CPU time per burst of each (medians of the
# three runs), and whether the long run stays within 5 MB of the short one's
# peak and within 1.2 times its CPU time per burst. CPU time, not wall time:
# it grows less with the load of the machine (but it grows: the runs share the
# cores and their caches with other work); the start-up (a few ms) is left in,
# the short run being long enough to swamp it.
# usage: bench/long_run.sh [SHORT [LONG]]   (whole numbers, 2 <= SHORT < LONG;
# default 1000 20000)
# The build is taken from build/ (or $KV_BUILD_DIR); needs GNU time
# (/usr/bin/time, Debian package "time"). Exit status 0 when both goals are
# met, 1 when one is not (or the time could not be measured), 2 when the
# counts are refused or a run failed.
set -eu
cd "$(dirname "$0")/.."
usage="usage: bench/long_run.sh [SHORT [LONG]]   (whole numbers, 2 <= SHORT < LONG; default 1000 20000)"
refuse() {
  echo "long_run: $1" >&2
  echo "$usage" >&2
  exit 2
}
[ $# -le 2 ] || refuse "at most two counts"
short=${1-1000}
long=${2-20000}
for n in "$short" "$long"; do
  case $n in
    '' | *[!0-9]*) refuse "'$n' is not a whole number" ;;
  esac
done
# Without leading zeros, which would make the shell read an octal number; the
# shell's arithmetic holds 18 digits.
short=$(echo "$short" | sed 's/^0*\(.\)/\1/')
long=$(echo "$long" | sed 's/^0*\(.\)/\1/')
for n in "$short" "$long"; do
  [ ${#n} -le 18 ] || refuse "'$n' is too large a count"
done
[ "$short" -ge 2 ] || refuse "the short run needs at least 2 bursts"
[ "$short" -lt "$long" ] || refuse "the long run needs more bursts than the short one"

dir=$(cd "${KV_BUILD_DIR:-build}" && pwd)
job="$dir/bin/hixburst"
if [ ! -x "$job" ]; then
  echo "long_run: $job not built (cmake --build $dir --target hixburst)" >&2
  exit 2
fi
if [ ! -x /usr/bin/time ]; then
  echo "long_run: needs GNU time as /usr/bin/time (Debian package \"time\")" >&2
  exit 2
fi
# A fresh profile folder and working folder: no "kvdiag.log" there, so the
# burst library keeps no log file of its own.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
USERPROFILE=$work
export USERPROFILE

# once N: one run of N bursts; appends "peak-KB cpu-centiseconds" to $work/N.
once() {
  if ! (cd "$work" && /usr/bin/time -f '%M %U %S' -o "$work/time" "$job" --bursts "$1" > "$work/out" 2>&1); then
    echo "long_run: hixburst --bursts $1 failed:" >&2
    grep -E '^(error|hixburst): ' "$work/out" >&2 || tail -5 "$work/out" >&2
    exit 2
  fi
  if ! grep -q "^burst $1: " "$work/out"; then
    echo "long_run: hixburst --bursts $1 did not report its last burst" >&2
    exit 2
  fi
  tail -1 "$work/time" | awk '{ printf "%d %d\n", $1, ($2 + $3) * 100 + 0.5 }' >> "$work/$1"
}

# run N: three runs of N bursts; sets peak (KB) and cs (CPU centiseconds),
# the medians.
run() {
  : > "$work/$1"
  for i in 1 2 3; do
    once "$1"
  done
  peak=$(cut -d' ' -f1 "$work/$1" | sort -n | sed -n 2p)
  cs=$(cut -d' ' -f2 "$work/$1" | sort -n | sed -n 2p)
}

run "$short"
peakShort=$peak
csShort=$cs
run "$long"
peakLong=$peak
csLong=$cs

# CPU microseconds a burst.
us() { awk -v cs="$1" -v n="$2" 'BEGIN { printf "%.1f", cs * 10000 / n }'; }
printf '%6d bursts: peak %6d KB, %s us CPU time a burst\n' "$short" "$peakShort" "$(us "$csShort" "$short")"
printf '%6d bursts: peak %6d KB, %s us CPU time a burst\n' "$long" "$peakLong" "$(us "$csLong" "$long")"

growth=$((peakLong - peakShort))
ok=0
if [ "$growth" -le 5120 ]; then
  echo "memory: the long run's peak is $growth KB above the short run's (goal: within 5 MB): met"
else
  echo "memory: the long run's peak is $growth KB above the short run's (goal: within 5 MB): not met"
  ok=1
fi
# Below 10 centiseconds the clock's step (1 cs) is more than a tenth of it.
if [ "$csShort" -lt 10 ]; then
  echo "time: the short run took $csShort cs of CPU time, too little to measure a burst (give it more bursts): not measured"
  exit 1
fi
ratio=$(awk -v l="$csLong" -v nl="$long" -v s="$csShort" -v ns="$short" 'BEGIN { printf "%.2f", (l / nl) / (s / ns) }')
if awk -v r="$ratio" 'BEGIN { exit !(r <= 1.2) }'; then
  echo "time: a burst of the long run takes $ratio times one of the short run (goal: at most 1.2): met"
else
  echo "time: a burst of the long run takes $ratio times one of the short run (goal: at most 1.2): not met"
  ok=1
fi
exit $ok
