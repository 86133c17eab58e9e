#!/bin/sh
# Runs tools/check-tsan-layout.sh against a chosen vm.mmap_rnd_bits (a file in
# place of /proc/sys/vm/mmap_rnd_bits) and a stand-in sysctl that writes it:
# the check changes the setting only when asked to, otherwise stops with the
# command to run, and shows a program's own failure when the setting is not
# what stops it. The compiler is the one given, with a launcher before it,
# or a stand-in that makes a probe failing as at a bad layout, or that cannot
# link the ThreadSanitizer runtime.
# usage: check_tsan_layout_test.sh <check script> <c++ compiler>
set -eu
check=$1
cxxReal=$2
. "$(dirname "$0")/case_verdict.sh"
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
cat > "$fake/sysctl" <<'FAKE'
#!/bin/sh
case "$*" in
  "-q -w vm.mmap_rnd_bits="*)
    if [ -e "$FAKE_DIR/refuse" ]; then
      echo "sysctl: permission denied on key \"vm.mmap_rnd_bits\"" >&2
      exit 1
    fi
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

failed=0
# check_case <what> <setting, or "" for none> <KV_LOWER_MMAP_RND_BITS> <refuse: 0 or 1>
#            <compiler: real, launcher, mapping or notsan> <sysctl on the PATH: 0 or 1>
#            <exit status> <setting after> <pattern of a line of its output, or "">
check_case() {
  rm -f "$fake/bits" "$fake/refuse"
  [ -z "$2" ] || echo "$2" > "$fake/bits"
  [ "$4" = 1 ] && touch "$fake/refuse"
  case $5 in
    real) cxx=$cxxReal ;;
    launcher) cxx="$fake/launcher $cxxReal" ;;
    *) cxx=$fake/cc ;;
  esac
  path=$pathWith
  [ "$6" = 1 ] || path=$fake/bare
  rc=0
  out=$(PATH=$path FAKE_CC=$5 CXX=$cxx KV_LOWER_MMAP_RND_BITS=$3 "$check" 2>&1) || rc=$?
  after=$(cat "$fake/bits" 2>/dev/null || true)
  verdict "$1" "$rc" "$7" setting "$after" "$8" "$out" "$9"
}

check_case "a layout that fits" 28 0 0 real 1 0 28 ""
check_case "more randomisation than fits, not asked to lower" 32 0 0 real 1 1 32 "^    sysctl -w vm.mmap_rnd_bits=28$"
check_case "more randomisation than fits, asked to lower" 32 1 0 real 1 0 28 "lowered from 32 to 28"
check_case "more randomisation than fits, lowering refused" 32 1 1 real 1 1 32 "could not be lowered from 32 to 28"
check_case "a program that fails at 28" 28 0 0 mapping 1 1 28 \
  "^check-tsan-layout: a program built with ThreadSanitizer does not start here, with vm.mmap_rnd_bits at 28:$"
check_case "a program that fails at 28, asked to lower" 28 1 0 mapping 1 1 28 \
  "^check-tsan-layout: a program built with ThreadSanitizer does not start here, with vm.mmap_rnd_bits at 28:$"
check_case "without sysctl on the PATH, a layout that fits" 28 0 0 fits 0 0 28 ""
check_case "without sysctl on the PATH, more than fits" 32 0 0 fits 0 1 32 "vm.mmap_rnd_bits is 32, they need at most 28"
check_case "without sysctl on the PATH, asked to lower" 32 1 0 fits 0 1 32 "could not be lowered from 32 to 28"
check_case "a setting that cannot be read" "" 0 0 real 1 0 "" "vm.mmap_rnd_bits could not be read"
check_case "a setting that is not a number" "x" 0 0 real 1 0 x "vm.mmap_rnd_bits could not be read"
check_case "a compiler command with a launcher" 28 0 0 launcher 1 0 28 ""
check_case "a compiler without the ThreadSanitizer runtime" 28 0 0 notsan 1 1 28 \
  "^check-tsan-layout: .*/cc does not build a program with ThreadSanitizer"
exit $failed
