#!/bin/sh
# Checks a GNU ld link map (-Map) of an image that must take nothing from a
# library of the C runtime or the C++ library: every file the link loaded
# from outside the build (an absolute path) is one of the libraries named,
# and so is every library that a member was taken from. The build's own
# objects (relative paths, an archive of them among them) are the image's.
# Nor may any input put something into a section of code run at load or
# exit (.ctors, .dtors, .init_array, .fini_array, .CRT$X*) or of thread-local
# storage (.tls*): no kernel runs them, and the platform's linker script
# folds .ctors and .dtors into .text, where the image's section table does
# not show them.
# usage: check_link_map.sh <map> <library file name>...
set -eu
if [ $# -lt 2 ]; then
  echo "usage: check_link_map.sh <map> <library file name>..." >&2
  exit 2
fi
map=$1
shift
awk -v name="$(basename "$map")" -v allowed="$*" '
BEGIN { n = split(allowed, a, " "); for (i = 1; i <= n; i++) ok[a[i]] = 1 }
function base(p) { sub(/.*\//, "", p); return p }
function fault(s) { print name ": " s; failed = 1 }
function inputSection(sec, size, file) {
  if (size !~ /^0x0*$/ && sec ~ /^\.(ctors|dtors|init_array|fini_array)(\.|$)|^\.CRT\$|^\.tls/)
    fault(file " puts " size " bytes into " sec)
}
/^Archive member included/ { inMembers = 1; next }
/^(Allocating common symbols|Discarded input sections|Memory Configuration|Linker script and memory map)/ { inMembers = 0 }
inMembers && /^[^ \t].*\(.*\)$/ {
  lib = $0; sub(/\(.*/, "", lib)
  member = $0; sub(/^[^(]*\(/, "", member); sub(/\)$/, "", member)
  pending = ""
  if (lib ~ /^\// && !(base(lib) in ok)) pending = "takes " member " of " lib
  else if (lib ~ /^\//) taken[base(lib)]++
  next
}
inMembers && pending != "" && /^[ \t]/ {
  why = $0; sub(/^[ \t]+/, "", why)
  fault(pending " for " why)
  pending = ""
  next
}
# An input section: " <name> <address> <size> <file>", the name alone on
# its line when it is long.
/^ \.[^ ]+$/ { lone = $1; next }
/^ \.[^ ]+ +0x[0-9a-f]+ +0x[0-9a-f]+ / { inputSection($1, $3, substr($0, index($0, $4))); lone = ""; next }
lone != "" && /^ +0x[0-9a-f]+ +0x[0-9a-f]+ / { inputSection(lone, $2, substr($0, index($0, $3))); lone = ""; next }
{ lone = "" }
/^LOAD / {
  f = substr($0, 6)
  if (f != "dll stuff" && f ~ /^\// && !(base(f) in ok)) fault("loads " f)
}
END {
  if (pending != "") fault(pending)
  if (failed) exit 1
  printf "%s: nothing taken from a library but", name
  for (i = 1; i <= n; i++) printf " %s (%d members)", a[i], taken[a[i]]
  printf "\n"
}' "$map"
