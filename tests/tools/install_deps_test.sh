#!/bin/sh
# Runs tools/install-deps.sh against stand-ins of dpkg-query (every package
# installed but those named absent; keeps what it is asked about), apt-get
# (keeps what it is asked to install) and id (the user's number): each
# purpose asks for its own packages, and each package once.
# usage: install_deps_test.sh <install-deps script>
set -eu
script=$1
. "$(dirname "$0")/case_verdict.sh"
fake=$(mktemp -d)
trap 'rm -rf "$fake"' EXIT
cat > "$fake/dpkg-query" <<'FAKE'
#!/bin/sh
for p; do :; done
echo "$p" >> "$FAKE_DIR/asked"
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
  rm -f "$fake/apt" "$fake/asked"
  rc=0
  out=$(FAKE_UID=$4 "$script" $2 2>&1) || rc=$?
  apt=$(sed 's/^install -y -q --no-install-recommends //' "$fake/apt" 2>/dev/null || true)
  # A package is looked for once, however many purposes name it.
  twice=$(sort "$fake/asked" 2>/dev/null | uniq -d | tr '\n' ' ')
  verdict "$1" "$rc" "$5" installed "$apt${twice:+ (looked for twice: $twice)}" "$6" "$out" "$7"
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
check_case "the cross build without the kernel's headers and import libraries" cross \
  "mingw-w64-x86-64-dev time" 0 0 "mingw-w64-x86-64-dev" ""
check_case "wine64 for the Windows runs" wine "wine64 $mingw" 0 0 "wine64" ""
check_case "the tests, the cross build and wine64 without root" "test cross wine" "wine64" 1000 1 "" \
  "^missing Debian packages: wine64 \(run as root to install them\)$"
check_case "the benchmarks without GNU time" bench "time $mingw procps" 0 0 "time" ""
check_case "two purposes that name a missing package, as root" "test bench demo" "time g++ $mingw" 0 0 "g++ time" ""
check_case "two purposes that name a missing package" "demo test bench cross" "time g++ $mingw" 1000 1 "" \
  "^missing Debian packages: g.. time g..-mingw-w64-x86-64-posix \\(run as root to install them\\)$"
check_case "no purpose" "" "" 0 2 "" "^usage: tools/install-deps.sh "
check_case "an unknown purpose" "demo tset" "" 0 2 "" "^install-deps: unknown purpose 'tset'$"
exit $failed
