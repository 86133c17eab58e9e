# The verdict of one case of a script's test, for the tests to source.
# verdict <what> <exit status> <expected> <name of the state> <state> <expected>
#         <output> <pattern of a line of the output, or "" for no output>
# Prints "ok: <what>", or "FAILED: ..." with the output and sets failed=1.
verdict() {
  if [ "$2" -ne "$3" ] || [ "$5" != "$6" ] ||
    { [ -n "$8" ] && ! printf '%s\n' "$7" | grep -Eq -- "$8"; } || { [ -z "$8" ] && [ -n "$7" ]; }; then
    echo "FAILED: $1: exit status $2 (expected $3), $4 '$5' (expected '$6'), output:"
    printf '%s\n' "$7"
    failed=1
  else
    echo "ok: $1"
  fi
}
