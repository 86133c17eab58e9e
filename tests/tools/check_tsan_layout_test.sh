#!/bin/sh
# Runs tools/check-tsan-layout.sh against a chosen vm.mmap_rnd_bits (a file in
# place of /proc/sys/vm/mmap_rnd_bits) and a stand-in sysctl that writes it,
# refuses, or does nothing: the check changes the setting only when asked to,
# otherwise stops with the command to run, and shows a program's own failure
# when the setting is not what stops it. A setting the check may not read is
# one only root may read, the check run as another user (or, when this runs
# as an ordinary user, a file no one may read): a program that starts then
# passes without a word about it. The compiler is the one given, with a
# launcher before it, or a stand-in that makes a probe failing as at a bad
# layout, or that cannot link the ThreadSanitizer runtime.
# usage: check_tsan_layout_test.sh <check script> <c++ compiler>
set -eu
cxxReal=$2
. "$(dirname "$0")/case_verdict.sh"
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
# Another user reaches the check, the stand-ins and a folder for its files.
chmod 755 "$fake"
cp "$1" "$fake/check"
check=$fake/check
mkdir -m 1777 "$fake/tmp"
cat > "$fake/sysctl" <<'FAKE'
#!/bin/sh
case "$*" in
  "-q -w vm.mmap_rnd_bits="*)
    if [ -e "$FAKE_DIR/refuse" ]; then
      echo "sysctl: permission denied on key \"vm.mmap_rnd_bits\"" >&2
      exit 1
    fi
    [ -e "$FAKE_DIR/noop" ] && exit 0
    echo "${3#vm.mmap_rnd_bits=}" > "$FAKE_DIR/bits" ;;
  *) echo "sysctl stand-in: unexpected arguments: $*" >&2; exit 2 ;;
esac
FAKE
cat > "$fake/launcher" <<'FAKE'
#!/bin/sh
exec "$@"
FAKE
cat > "$fake/cc" <<'FAKE'
#!/bin/sh
out=
while [ $# -gt 0 ]; do
  [ "$1" = -o ] && out=$2
  shift
done
case $FAKE_CC in
  notsan)
    echo "/usr/bin/ld: cannot find -ltsan: No such file or directory" >&2
    exit 1 ;;
  mapping) printf '#!/bin/sh\necho "FATAL: ThreadSanitizer: unexpected memory mapping 0x1000-0x2000"\nexit 66\n' > "$out" ;;
  notstart) printf '#!/bin/sh\necho "probe: cannot start"\nexit 1\n' > "$out" ;;
  *) printf '#!/bin/sh\nexit 0\n' > "$out" ;;
esac
chmod +x "$out"
FAKE
chmod +x "$fake/sysctl" "$fake/launcher" "$fake/cc"
# A PATH without sysctl: the commands the check and the stand-in compiler use.
mkdir "$fake/bare"
for c in cat chmod mktemp rm; do
  ln -s "$(command -v "$c")" "$fake/bare/$c"
done
FAKE_DIR=$fake
KV_MMAP_RND_BITS_FILE=$fake/bits
export FAKE_DIR KV_MMAP_RND_BITS_FILE
pathWith=$fake:$PATH

# The check as a user who may not read a file of root's mode 0600.
if [ "$(id -u)" -eq 0 ]; then
  other="setpriv --reuid=65534 --regid=65534 --clear-groups"
else
  other=
fi

failed=0
# check_case <what> <setting, "" for none, "!N" for N that it may not read>
#            <KV_LOWER_MMAP_RND_BITS> <sysctl: writes, refuses or noop>
#            <compiler: real, launcher, mapping or notsan> <sysctl on the PATH: 0 or 1>
#            <exit status> <setting after> <pattern of a line of its output, or "">
check_case() {
  rm -f "$fake/bits" "$fake/refuse" "$fake/noop"
  as=
  case $2 in
    '') ;;
    '!'*)
      echo "${2#!}" > "$fake/bits"
      if [ -n "$other" ]; then chmod 600 "$fake/bits"; else chmod 000 "$fake/bits"; fi
      as=$other ;;
    *) echo "$2" > "$fake/bits" ;;
  esac
  case $4 in
    refuses) touch "$fake/refuse" ;;
    noop) touch "$fake/noop" ;;
  esac
  case $5 in
    real) cxx=$cxxReal ;;
    launcher) cxx="$fake/launcher $cxxReal" ;;
    *) cxx=$fake/cc ;;
  esac
  path=$pathWith
  [ "$6" = 1 ] || path=$fake/bare
  rc=0
  out=$(PATH=$path FAKE_CC=$5 CXX=$cxx KV_LOWER_MMAP_RND_BITS=$3 TMPDIR=$fake/tmp $as "$check" 2>&1) || rc=$?
  [ ! -e "$fake/bits" ] || chmod 644 "$fake/bits"
  after=$(cat "$fake/bits" 2>/dev/null || true)
  verdict "$1" "$rc" "$7" setting "$after" "$8" "$out" "$9"
}

check_case "a layout that fits" 28 0 writes real 1 0 28 ""
check_case "more randomisation than fits, not asked to lower" 32 0 writes real 1 1 32 "^    sysctl -w vm.mmap_rnd_bits=28$"
check_case "more randomisation than fits, asked to lower" 32 1 writes real 1 0 28 "lowered from 32 to 28"
check_case "more randomisation than fits, lowering refused" 32 1 refuses real 1 1 32 "could not be lowered from 32 to 28"
check_case "more randomisation than fits, a sysctl that does nothing" 32 1 noop real 1 1 32 \
  "^check-tsan-layout: sysctl -w vm.mmap_rnd_bits=28 did not lower the setting: it is 32$"
check_case "a program that fails at 28" 28 0 writes mapping 1 1 28 \
  "^check-tsan-layout: a program built with ThreadSanitizer does not start here, with vm.mmap_rnd_bits at 28:$"
check_case "a program that fails at 28, asked to lower" 28 1 writes mapping 1 1 28 \
  "^check-tsan-layout: a program built with ThreadSanitizer does not start here, with vm.mmap_rnd_bits at 28:$"
check_case "without sysctl on the PATH, a layout that fits" 28 0 writes fits 0 0 28 ""
check_case "without sysctl on the PATH, more than fits" 32 0 writes fits 0 1 32 "vm.mmap_rnd_bits is 32, they need at most 28"
check_case "without sysctl on the PATH, asked to lower" 32 1 writes fits 0 1 32 "could not be lowered from 32 to 28"
check_case "no setting, a program that starts" "" 0 writes real 1 0 "" ""
check_case "a setting that is not a number, a program that starts" "x" 0 writes real 1 0 x ""
check_case "a setting it may not read, a program that starts" '!32' 0 writes real 1 0 32 ""
check_case "a setting it may not read, a program that stops at the layout" '!32' 0 writes mapping 1 1 32 \
  "^    sysctl -w vm.mmap_rnd_bits=28$"
check_case "a setting it may not read, the program's own words shown" '!32' 0 writes mapping 1 1 32 \
  "^FATAL: ThreadSanitizer: unexpected memory mapping"
check_case "a setting it may not read, named as root's" '!32' 0 writes mapping 1 1 32 \
  "only root may read that setting"
check_case "a setting it may not read, asked to lower, not allowed" '!32' 1 writes mapping 1 1 32 \
  "^check-tsan-layout: vm.mmap_rnd_bits could not be lowered to 28 \(as root, with sysctl of procps\)$"
check_case "no setting, asked to lower, a sysctl that does nothing" "" 1 noop mapping 1 1 "" \
  "^check-tsan-layout: sysctl -w vm.mmap_rnd_bits=28 did not lower the setting: a program built with ThreadSanitizer still stops"
check_case "no setting, a program that fails otherwise" "" 0 writes notstart 1 1 "" \
  "^check-tsan-layout: a program built with ThreadSanitizer does not start here:$"
check_case "a compiler command with a launcher" 28 0 writes launcher 1 0 28 ""
check_case "a compiler without the ThreadSanitizer runtime" 28 0 writes notsan 1 1 28 \
  "^check-tsan-layout: .*/cc does not build a program with ThreadSanitizer"
exit $failed
