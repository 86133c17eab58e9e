#!/bin/sh
# Runs hixburst in a fresh folder holding an empty kvdiag.log, so that the
# burst library logs there: the log holds the operations of instance 0, which
# the demo opens and finishes, and none of instance 1, which it never opens.
# usage: log_test.sh <hixburst>
set -eu
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
: > "$work/kvdiag.log"
(cd "$work" && "$1" > "$work/out" 2>&1) || { cat "$work/out"; exit 1; }
fail=0
if ! grep -q '\[0\] hix_fini -> ' "$work/kvdiag.log"; then
  echo "FAILED: no line of instance 0's hix_fini in the log"
  fail=1
fi
if grep '\[1\]' "$work/kvdiag.log"; then
  echo "FAILED: the log has lines of instance 1 (above)"
  fail=1
fi
[ $fail -eq 0 ] && echo "ok: the log holds instance 0's operations only"
exit $fail
