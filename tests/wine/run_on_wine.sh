#!/bin/sh
# Runs the Windows x64 build under wine64, in a prefix of its own: a fresh
# temporary folder with its own wineserver, stopped at the end (also on a
# failure); every wine call is bounded in time.
# - The driver image kavorqir.sys, copied into the prefix's system32\drivers
#   and registered as a demand-start kernel service with "Debug" 0x303, is
#   started (net start): it must print "kavorqir load", the entry version
#   line and "debug=303"; then stopped (net stop): "kavorqir unload". Its
#   DbgPrint records come through wine's debugstr channel.
# - The two programs of the DLLs' import side run in a fresh folder that
#   holds a copy of the build's bin/ and nothing else. Their output must equal
#   that of the same programs built for Linux, but for the lines beginning
#   "board: " (no board is attached), which must be failure statuses on both,
#   as many on both; the exit status must be the expected one on both.
# usage: tests/wine/run_on_wine.sh <cross build dir> <Linux build dir>
# KV_WINE64 names the wine64 program (default /usr/lib/wine/wine64, where
# Debian keeps it); the wineserver is the one beside it.
# Exit status 0 when every check holds, 1 when one does not, 2 on bad usage.
set -eu
if [ $# -ne 2 ]; then
  echo "usage: tests/wine/run_on_wine.sh <cross build dir> <Linux build dir>" >&2
  exit 2
fi
win=$(cd "$1" && pwd)
lin=$(cd "$2" && pwd)
wine64=${KV_WINE64:-/usr/lib/wine/wine64}
wineserver=$(dirname "$wine64")/wineserver
if [ ! -x "$wine64" ] || [ ! -x "$wineserver" ]; then
  echo "run_on_wine: no wine64 at $wine64 (with its wineserver beside it): install Debian's" \
    "wine64 (tools/install-deps.sh wine, as root)" >&2
  exit 1
fi
image=$win/bin/kavorqir.sys
if [ ! -f "$image" ]; then
  echo "run_on_wine: no driver image $image: the cross build makes it" >&2
  exit 1
fi

# The seconds since the start of the run, to tenths.
since() { awk -v t0="$1" -v t1="$(date +%s%N)" 'BEGIN { printf "%.1f", (t1 - t0) / 1e9 }'; }
t0=$(date +%s%N)

work=$(mktemp -d "${TMPDIR:-/tmp}/kv-wine.XXXXXX")
log=$work/wine.log
: > "$log"
# Everything of wine stays in the folder: the prefix, the server's socket
# (below TMPDIR) and what wine writes below HOME. No menu entries, no
# browser or .NET engine to look for, no display.
export WINEPREFIX="$work/prefix" TMPDIR="$work" HOME="$work/home"
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml="
export WINEDEBUG=warn+debugstr
unset DISPLAY WAYLAND_DISPLAY XDG_CONFIG_HOME XDG_DATA_HOME XDG_RUNTIME_DIR
mkdir "$HOME"

# At the end, also on a failure: the prefix's wineserver and its processes
# stopped, the folder removed.
cleanup() {
  if [ -d "$WINEPREFIX" ]; then
    timeout 30 "$wineserver" -k > /dev/null 2>&1 || true
    timeout 30 "$wineserver" -w > /dev/null 2>&1 || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# settle <what>: waits until the wineserver has ended by itself (bounded), with
# every process of the prefix: wineboot returns before the prefix's set-up
# has ended.
settle() {
  timeout 120 "$wineserver" -w > /dev/null 2>&1 || fail "the wineserver did not end within 120 s after $1"
}

fail() {
  echo "run_on_wine: FAILED: $*" >&2
  echo "run_on_wine: the last lines of wine's output:" >&2
  tail -n 30 "$log" >&2
  exit 1
}

# wine <seconds> <program and arguments>: standard error goes to the log,
# standard output to the caller; rc holds the exit status.
wine() {
  secs=$1
  shift
  rc=0
  timeout "$secs" "$wine64" "$@" < /dev/null 2>> "$log" || rc=$?
  [ "$rc" -ne 124 ] || fail "wine64 $* did not end within $secs s"
  return "$rc"
}

# The messages of the DbgPrint records in the log from line $1 on.
records() {
  tail -n "+$1" "$log" | tr -d '\r' | sed -n 's/^.*:warn:debugstr:[^ ]* [0-9a-f]*:[0-9a-f]*: //p'
}

# need_record <from line> <what, for the message> <pattern of the whole message>
need_record() {
  records "$1" | grep -Eqx -- "$3" || fail "$2: no record of the driver matches ^$3\$ (its records: $(records "$1" | paste -sd '|' -))"
}

wine 300 wineboot -i > /dev/null || fail "the prefix was not made (wineboot -i, exit status $rc)"
settle "the prefix's set-up"
echo "wine64: fresh prefix in $(since "$t0") s"

t1=$(date +%s%N)
cp "$image" "$WINEPREFIX/drive_c/windows/system32/drivers/kavorqir.sys"
# value <name> <type> <data>: a value of the service key.
value() {
  wine 60 reg add 'HKLM\System\CurrentControlSet\Services\kavorqir' /v "$1" /t "$2" /d "$3" /f > /dev/null ||
    fail "the service value $1 was not written (exit status $rc)"
}
value Type REG_DWORD 1
value Start REG_DWORD 3
value ErrorControl REG_DWORD 1
value ImagePath REG_EXPAND_SZ '\SystemRoot\System32\drivers\kavorqir.sys'
value Debug REG_DWORD 0x303
# The service manager reads its list of services when it starts: the next
# wine call starts it again.
settle "the service values were written"
wine 60 net start kavorqir > "$work/net" || fail "net start kavorqir, exit status $rc: $(tr -d '\r' < "$work/net")"
need_record 1 "the start" "kavorqir load"
need_record 1 "the start" "kqir: entry version=\([0-9]+\.[0-9]+\.[0-9]+  [0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}[+-][0-9]{2}:[0-9]{2} \)"
need_record 1 "the start" "kqir: debug=303"
started=$(($(wc -l < "$log") + 1))
wine 60 net stop kavorqir > "$work/net" || fail "net stop kavorqir, exit status $rc: $(tr -d '\r' < "$work/net")"
need_record "$started" "the stop" "kavorqir unload"
echo "wine64: kavorqir.sys registered, started and stopped in $(since "$t1") s; its records:" \
  "$(records 1 | paste -sd '|' -)"

# split <program> <side> <exit status> <expected> <pattern of a board line>:
# checks the exit status and the board lines of the program's output
# $work/<program>.<side>, and leaves the other lines in <...>.free.
split() {
  [ "$3" -eq "$4" ] || fail "$1 on $2: exit status $3, expected $4; its output:
$(cat "$work/$1.$2")"
  grep -v '^board: ' "$work/$1.$2" > "$work/$1.$2.free" || true
  grep '^board: ' "$work/$1.$2" > "$work/$1.$2.board" || fail "$1 on $2: no line beginning 'board: '"
  if bad=$(grep -Ev -- "$5" "$work/$1.$2.board"); then
    fail "$1 on $2: not a failure status: $bad"
  fi
}

# The programs: name, exit status, pattern of each line beginning "board: ".
t1=$(date +%s%N)
mkdir "$work/app" "$work/linux"
cp "$win"/bin/* "$work/app/"
while IFS='|' read -r name status board; do
  cp "$win/tests/exports/import/$name.exe" "$work/app/"
  cd "$work/app"
  wine 60 "./$name.exe" > "$work/$name.raw" || true
  tr -d '\r' < "$work/$name.raw" > "$work/$name.wine64"
  split "$name" wine64 "$rc" "$status" "$board"
  # No kvdiag.log to pick up here, and no warning about USERPROFILE missing.
  cd "$work/linux"
  rc=0
  USERPROFILE=$work/linux timeout 60 "$lin/tests/exports/import/$name" < /dev/null > "$work/$name.Linux" \
    2>> "$log" || rc=$?
  cd "$work"
  split "$name" Linux "$rc" "$status" "$board"
  diff -u --label "$name on Linux" --label "$name.exe on wine64" "$work/$name.Linux.free" "$work/$name.wine64.free" \
    > "$work/$name.diff" ||
    fail "$name prints on wine64 other than on Linux where no board is reached:
$(cat "$work/$name.diff")"
  nw=$(wc -l < "$work/$name.wine64.board")
  nl=$(wc -l < "$work/$name.Linux.board")
  [ "$nw" -eq "$nl" ] || fail "$name: $nw lines beginning 'board: ' on wine64, $nl on Linux"
  echo "wine64: $name.exe prints as on Linux ($(wc -l < "$work/$name.wine64.free") lines), then" \
    "$(paste -sd '|' "$work/$name.wine64.board"), exit status $status"
done <<'EOF'
hix_burst_app|1|^board: .*, failed 1\)$
libraries_app|0|^board: stat=fail \(.*\) [0-9]+$
EOF
echo "wine64: programs in $(since "$t1") s; all checks passed in $(since "$t0") s"
