#!/bin/sh
# Runs a program and checks its exit status and that one line of its output
# (standard output and error together) matches an extended regular expression.
# usage: run_check.sh <status> <pattern> <program> [args...]
status=$1
pattern=$2
shift 2
out=$("$@" 2>&1)
rc=$?
printf '%s\n' "$out"
if [ "$rc" -ne "$status" ]; then
  echo "run_check: exit status $rc, expected $status"
  exit 1
fi
if ! printf '%s\n' "$out" | grep -Eq -- "$pattern"; then
  echo "run_check: no output line matches: $pattern"
  exit 1
fi
