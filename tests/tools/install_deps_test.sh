#!/bin/sh
# Runs tools/install-deps.sh against stand-ins of dpkg-query (every package
# installed but those named absent), apt-get (keeps what it is asked to
# install) and id (the user's number): each purpose asks for its own packages.
# usage: install_deps_test.sh <install-deps script>
set -eu
script=$1
. "$(dirname "$0")/case_verdict.sh"
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
cat > "$fake/dpkg-query" <<'FAKE'
#!/bin/sh
for p; do :; done
grep -qxF -- "$p" "$FAKE_DIR/absent" || printf 'install ok installed'
FAKE
cat > "$fake/apt-get" <<'FAKE'
#!/bin/sh
[ "$1" = update ] || echo "$*" >> "$FAKE_DIR/apt"
FAKE
cat > "$fake/id" <<'FAKE'
#!/bin/sh
echo "$FAKE_UID"
FAKE
chmod +x "$fake/dpkg-query" "$fake/apt-get" "$fake/id"
FAKE_DIR=$fake
PATH=$fake:$PATH
export FAKE_DIR PATH

failed=0
# check_case <what> <purposes> <absent packages> <uid> <exit status>
#            <packages installed, or ""> <pattern of a line of its output, or "">
check_case() {
  printf '%s\n' $3 > "$fake/absent"
  rm -f "$fake/apt"
  rc=0
  out=$(FAKE_UID=$4 "$script" $2 2>&1) || rc=$?
  apt=$(sed 's/^install -y -q --no-install-recommends //' "$fake/apt" 2>/dev/null || true)
  verdict "$1" "$rc" "$5" installed "$apt" "$6" "$out" "$7"
}

mingw=g++-mingw-w64-x86-64-posix
check_case "the demo without the cross compiler and wine64" demo "$mingw wine64 time procps" 1000 0 "" ""
check_case "the demo as root without the cross compiler" demo "$mingw time procps" 0 0 "" ""
check_case "the demo without a test library" demo "libgtest-dev $mingw" 1000 1 "" \
  "^missing Debian packages: libgtest-dev \(run as root to install them\)$"
check_case "the demo as root without its compiler" demo "g++ $mingw" 0 0 "g++" ""
check_case "the tests without GNU time" test "time $mingw" 1000 1 "" "^missing Debian packages: time "
check_case "the tests and the cross build as root" "test cross" "procps time $mingw" 0 0 "procps time $mingw" ""
check_case "the cross build alone" cross "$mingw time" 0 0 "$mingw" ""
check_case "wine64 for the Windows runs" wine "wine64 $mingw" 0 0 "wine64" ""
check_case "the tests, the cross build and wine64 without root" "test cross wine" "wine64" 1000 1 "" \
  "^missing Debian packages: wine64 \(run as root to install them\)$"
check_case "the benchmarks without GNU time" bench "time $mingw procps" 0 0 "time" ""
check_case "no purpose" "" "" 0 2 "" "^usage: tools/install-deps.sh "
check_case "an unknown purpose" "demo tset" "" 0 2 "" "^install-deps: unknown purpose 'tset'$"
exit $failed
