#!/bin/sh
# Checks a kernel-mode driver image (PE32+, x86-64) as the platform's kernel
# will load it, from its headers, tables and code ($OBJDUMP -x and -d,
# objdump): subsystem native; the entry point at the entry routine;
# relocatable (a base relocation table, relocations not stripped, dynamic
# base) and no-execute compatible; imports from exactly the modules named;
# no TLS directory, no TLS, .CRT, constructor or destructor section and no
# section both writable and executable; every use of the probe's kernel
# routine a call from the probe routine, inside a scope of that routine's
# structured exception handler (__C_specific_handler); no stack allocation
# of a routine over a page, none of a size only known when it runs.
# Prints what it found; exits with 1 and a line per fault when one fails.
# usage: check_kernel_image.sh --imports "<module>..." --entry <routine>
#          --probe <routine> <kernel routine> [--max-frame <bytes>] <image>
set -eu
imports= entry= probe= kprobe= maxframe=4096
while [ $# -gt 1 ]; do
  case $1 in
    --imports) imports=$2; shift 2 ;;
    --entry) entry=$2; shift 2 ;;
    --probe) probe=$2; kprobe=$3; shift 3 ;;
    --max-frame) maxframe=$2; shift 2 ;;
    *) break ;;
  esac
done
if [ $# -ne 1 ] || [ -z "$imports" ] || [ -z "$entry" ] || [ -z "$probe" ]; then
  echo "usage: check_kernel_image.sh --imports \"<module>...\" --entry <routine> --probe <routine> <kernel routine> [--max-frame <bytes>] <image>" >&2
  exit 2
fi
image=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
"${OBJDUMP:-objdump}" -x "$image" > "$tmp/x"
"${OBJDUMP:-objdump}" -d "$image" > "$tmp/d"
awk -v name="$(basename "$image")" -v imports="$imports" -v entry="$entry" \
    -v probe="$probe" -v kprobe="$kprobe" -v maxframe="$maxframe" '
function hex(s,   n, i, c) {
  n = 0
  s = tolower(s)
  sub(/^0x/, "", s)
  for (i = 1; i <= length(s); i++) {
    c = index("0123456789abcdef", substr(s, i, 1))
    if (c == 0) return -1
    n = n * 16 + c - 1
  }
  return n
}
function bit(n, b) { return int(n / b) % 2 }
function fault(s) { print name ": " s; failed = 1 }
# objdump -x: the headers, data directories, sections, imports, unwind data.
FNR == NR {
  if ($1 == "Characteristics") characteristics = hex($2)
  else if ($1 == "AddressOfEntryPoint") entryRva = hex($2)
  else if ($1 == "ImageBase") imageBase = hex($2)
  else if ($1 == "Subsystem") { subsystem = hex($2); subsystemText = $0; sub(/^[^(]*/, "", subsystemText) }
  else if ($1 == "DllCharacteristics") dllChars = hex($2)
  else if ($1 == "Entry" && $2 == "5") relocSize = hex($4)
  else if ($1 == "Entry" && $2 == "9") tlsSize = hex($4)
  else if ($0 ~ /^\tDLL Name: /) { dll = $0; sub(/^\tDLL Name: /, "", dll); dlls[++ndll] = dll }
  else if ($0 ~ /^Sections:/) inSections = 1
  else if (inSections && $0 ~ /^ *[0-9]+ /) { secName = $2 }
  else if (inSections && secName != "" && $0 ~ /^ +[A-Z]/) { secFlags[secName] = $0; secOrder[++nsec] = secName; secName = "" }
  else if (inSections && $0 !~ /^ / && $1 != "Idx") inSections = 0
  # Unwind data: " <vma> (rva: <rva>): <begin> - <end>", then its lines.
  if ($0 ~ /^ [0-9a-f]+ \(rva: [0-9a-f]+\): [0-9a-f]+ - [0-9a-f]+$/) { xBegin = hex($4); userData = 0 }
  else if ($1 == "Handler:") { h = $2; sub(/\.$/, "", h); handlerOf[xBegin] = hex(h) }
  else if ($0 ~ /^\tUser data:/) userData = 1
  else if (userData && $0 ~ /^\t  [0-9a-f]+:/) { for (i = 2; i <= NF; i++) bytes[xBegin, nbytes[xBegin]++] = hex($i) }
  else userData = 0
  next
}
# objdump -d: routines and their instructions.
/^[0-9a-f]+ <.*>:$/ {
  fn = $2; sub(/^</, "", fn); sub(/>:$/, "", fn)
  addrOf[fn] = hex($1)
  if (lastCall != "") { retOf[lastCall] = hex($1); lastCall = "" }
  next
}
/^ +[0-9a-f]+:\t/ {
  a = $1; sub(/:$/, "", a); a = hex(a)
  if (lastCall != "") { retOf[lastCall] = a; lastCall = "" }
  split($0, part, "\t")
  insn = part[3]
  if (insn == "") next
  if (insn ~ /^(sub|add) +\$0x[0-9a-f]+,%rsp/) {
    # A sign-extended immediate: add of a negative size allocates (sub of
    # 128 is written as add of -128), sub of one releases.
    imm = insn; sub(/^(sub|add) +\$0x/, "", imm); sub(/,%rsp.*/, "", imm)
    if (length(imm) == 16 && substr(imm, 1, 8) == "ffffffff") size = hex(substr(imm, 9)) - 4294967296
    else size = hex(imm)
    if (insn ~ /^add/) size = -size
    if (size > maxSize) { maxSize = size; maxFn = fn }
    if (size > maxframe) fault("routine " fn " allocates " size " bytes of stack at once, over " maxframe)
  } else if (insn ~ /^sub +%[a-z0-9]+,%rsp/) {
    fault("routine " fn " allocates a size of stack known only when it runs")
  }
  if (fn != kprobe && (insn ~ "<__imp_" kprobe ">" || insn ~ "<" kprobe ">")) {
    if (insn ~ /^call/) { ++nuse; useFn[nuse] = fn; useAt[nuse] = a; lastCall = nuse }
    else fault("routine " fn " reaches " kprobe " without a call (" insn ")")
  }
}
END {
  if (subsystem != 1) fault("subsystem " subsystemText ", not native")
  if (!(entry in addrOf)) fault("no routine " entry)
  else if (imageBase + entryRva != addrOf[entry]) fault("the entry point is not " entry)
  if (bit(characteristics, 1)) fault("relocations stripped")
  if (relocSize == 0) fault("no base relocation table")
  if (!bit(dllChars, 64)) fault("no dynamic base")
  if (!bit(dllChars, 256)) fault("not no-execute compatible")
  if (tlsSize != 0) fault("a TLS directory")
  # Imports: exactly the modules named, as the loader compares them.
  n = split(imports, want, " ")
  for (i = 1; i <= n; i++) wanted[tolower(want[i])] = want[i]
  for (i = 1; i <= ndll; i++) {
    got[tolower(dlls[i])] = 1
    if (!(tolower(dlls[i]) in wanted)) fault("imports " dlls[i])
  }
  for (k in wanted) if (!(k in got)) fault("imports nothing of " wanted[k])
  for (i = 1; i <= nsec; i++) {
    s = secOrder[i]
    if (s ~ /^\.(tls|CRT|ctors|dtors|init_array|fini_array)/) fault("a section " s)
    if (secFlags[s] ~ /CODE/ && secFlags[s] !~ /READONLY/) fault("section " s " is writable and executable")
    secList = secList " " s
  }
  # The probe: its handler, the scopes of the handler data, the calls.
  if (!(probe in addrOf)) fault("no routine " probe)
  else {
    p = addrOf[probe]
    if (!(p in handlerOf)) fault(probe " has no exception handler")
    else if (!("__C_specific_handler" in addrOf) || handlerOf[p] != addrOf["__C_specific_handler"])
      fault("the exception handler of " probe " is not __C_specific_handler")
    nb = nbytes[p] + 0
    nscope = nb >= 4 ? bytes[p, 0] + 256 * bytes[p, 1] + 65536 * bytes[p, 2] + 16777216 * bytes[p, 3] : 0
    if (nb < 4 + 16 * nscope) { fault("the handler data of " probe " is cut short"); nscope = 0 }
    for (j = 0; j < nscope; j++) {
      for (f = 0; f < 4; f++) {
        o = 4 + 16 * j + 4 * f
        field[f] = bytes[p, o] + 256 * bytes[p, o + 1] + 65536 * bytes[p, o + 2] + 16777216 * bytes[p, o + 3]
      }
      scopeBegin[j] = imageBase + field[0]; scopeEnd[j] = imageBase + field[1]
    }
    if (nuse == 0) fault("no call of " kprobe)
    for (u = 1; u <= nuse; u++) {
      if (useFn[u] != probe) { fault(useFn[u] " calls " kprobe " outside " probe); continue }
      inside = 0
      for (j = 0; j < nscope; j++)
        if (useAt[u] >= scopeBegin[j] && (u in retOf) && retOf[u] < scopeEnd[j]) inside = 1
      if (!inside) fault(probe " calls " kprobe " outside the scopes of its exception handler")
    }
  }
  if (failed) exit 1
  printf "%s: native, entry %s, relocatable, no-execute compatible; imports", name, entry
  for (i = 1; i <= ndll; i++) printf " %s", dlls[i]
  printf "; sections%s; %d call of %s, in %s under __C_specific_handler; largest stack allocation %d bytes (%s)\n", \
    secList, nuse, kprobe, probe, maxSize, maxFn
}' "$tmp/x" "$tmp/d"
