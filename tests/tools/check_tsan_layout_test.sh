#!/bin/sh
# Runs tools/check-tsan-layout.sh against a stand-in sysctl that reports a
# chosen vm.mmap_rnd_bits and keeps what is written to it: the check changes
# the setting only when asked to, and otherwise stops with the command to run.
# usage: check_tsan_layout_test.sh <check script> <c++ compiler>
set -eu
check=$1
CXX=$2
export CXX
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
cat > "$fake/sysctl" <<'FAKE'
#!/bin/sh
case "$*" in
  "-n vm.mmap_rnd_bits") cat "$FAKE_DIR/bits" ;;
  "-q -w vm.mmap_rnd_bits="*)
    if [ -e "$FAKE_DIR/refuse" ]; then
      echo "sysctl: permission denied on key \"vm.mmap_rnd_bits\"" >&2
      exit 1
    fi
    echo "${3#vm.mmap_rnd_bits=}" > "$FAKE_DIR/bits" ;;
  *) echo "sysctl stand-in: unexpected arguments: $*" >&2; exit 2 ;;
esac
FAKE
chmod +x "$fake/sysctl"
FAKE_DIR=$fake
PATH=$fake:$PATH
export FAKE_DIR PATH

failed=0
# check_case <what> <setting> <KV_LOWER_MMAP_RND_BITS> <refuse: 0 or 1>
#            <exit status> <setting after> <pattern of a line of its output, or "">
check_case() {
  echo "$2" > "$fake/bits"
  rm -f "$fake/refuse"
  [ "$4" = 1 ] && touch "$fake/refuse"
  rc=0
  out=$(KV_LOWER_MMAP_RND_BITS=$3 "$check" 2>&1) || rc=$?
  after=$(cat "$fake/bits")
  if [ "$rc" -ne "$5" ] || [ "$after" != "$6" ] ||
    { [ -n "$7" ] && ! printf '%s\n' "$out" | grep -Eq -- "$7"; } || { [ -z "$7" ] && [ -n "$out" ]; }; then
    echo "FAILED: $1: exit status $rc (expected $5), setting $after (expected $6), output:"
    printf '%s\n' "$out"
    failed=1
  else
    echo "ok: $1"
  fi
}

check_case "a layout that fits" 28 0 0 0 28 ""
check_case "more randomisation than fits, not asked to lower" 32 0 0 1 32 "^    sysctl -w vm.mmap_rnd_bits=28$"
check_case "more randomisation than fits, asked to lower" 32 1 0 0 28 "lowered from 32 to 28"
check_case "more randomisation than fits, lowering refused" 32 1 1 1 32 "could not be lowered from 32 to 28"
exit $failed
