#!/bin/sh
# The main job over a long run: hixburst (as ./demo.sh runs it) with a short
# and a long count of bursts. Prints the peak memory (maximum resident set)
# and the time per burst of each, and whether the long run stays within 5 MB
# of the short one's peak and within 1.2 times its time per burst.
# usage: bench/long_run.sh [short-bursts [long-bursts]]   (default 1000 20000)
# The build is taken from build/ (or $KV_BUILD_DIR); needs GNU time
# (/usr/bin/time, Debian package "time"). Exit status 0 when both goals are
# met, 1 when one is not, 2 when a run failed.
set -eu
cd "$(dirname "$0")/.."
short=${1:-1000}
long=${2:-20000}
dir=$(cd "${KV_BUILD_DIR:-build}" && pwd)
job="$dir/bin/hixburst"
if [ ! -x "$job" ]; then
  echo "long_run: $job not built (cmake --build $dir --target hixburst)" >&2
  exit 2
fi
if [ ! -x /usr/bin/time ]; then
  echo "long_run: needs GNU time as /usr/bin/time" >&2
  exit 2
fi
# A fresh profile folder and working folder: no "kvdiag.log" there, so the
# burst library keeps no log file of its own.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
USERPROFILE=$work
export USERPROFILE

# run N: sets peak (KB) and ns (wall time in nanoseconds) of one run.
run() {
  start=$(date +%s%N)
  if ! (cd "$work" && /usr/bin/time -f '%M' -o "$work/time" "$job" --bursts "$1" > "$work/out" 2>&1); then
    echo "long_run: hixburst --bursts $1 failed:" >&2
    tail -5 "$work/out" >&2
    exit 2
  fi
  end=$(date +%s%N)
  if ! grep -q "^burst $1: " "$work/out"; then
    echo "long_run: hixburst --bursts $1 did not report its last burst" >&2
    exit 2
  fi
  peak=$(tail -1 "$work/time")
  ns=$((end - start))
}

# One burst gives what the job costs beside its bursts (start, open, close).
run 1
nsOnce=$ns
run "$short"
peakShort=$peak
perShort=$(( (ns - nsOnce) / (short - 1) ))
run "$long"
peakLong=$peak
perLong=$(( (ns - nsOnce) / (long - 1) ))

us() { awk -v n="$1" 'BEGIN { printf "%.1f", n / 1000 }'; }
printf '%6d bursts: peak %6d KB, %s us a burst\n' "$short" "$peakShort" "$(us "$perShort")"
printf '%6d bursts: peak %6d KB, %s us a burst\n' "$long" "$peakLong" "$(us "$perLong")"

growth=$((peakLong - peakShort))
ok=0
if [ "$growth" -le 5120 ]; then
  echo "memory: the long run's peak is $growth KB above the short run's (goal: within 5 MB): met"
else
  echo "memory: the long run's peak is $growth KB above the short run's (goal: within 5 MB): not met"
  ok=1
fi
ratio=$(awk -v a="$perLong" -v b="$perShort" 'BEGIN { printf "%.2f", a / b }')
if awk -v a="$perLong" -v b="$perShort" 'BEGIN { exit !(a <= 1.2 * b) }'; then
  echo "time: a burst of the long run takes $ratio times one of the short run (goal: at most 1.2): met"
else
  echo "time: a burst of the long run takes $ratio times one of the short run (goal: at most 1.2): not met"
  ok=1
fi
exit $ok
