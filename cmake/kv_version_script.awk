# Makes a linker version script from an export list: one extended regular
# expression a line over demangled names (blank lines and # lines skipped),
# as the exports check reads it. Every symbol the list does not name is local.
#
# The expressions use literal text, escaped characters, ".*", character
# classes with "+" and groups of alternatives, optional or not, never nested.
# Each expression is expanded into its alternatives; one without a wildcard
# becomes a quoted demangled name, one with a wildcard a glob in which every
# character the script syntax cannot hold matches any character. A name that
# could be a plain C symbol is kept under its own name too.

BEGIN {
    LP = "\001"; RP = "\002"; ST = "\003"; DOT = "\004"; LB = "\005"; RB = "\006"; PL = "\007"; QM = "\010"
    CC = "\011"
    NOGLOB = "[^]A-Za-z0-9_$*?[" CC "-]"
    n = 0; nPlain = 0
}

/^[[:space:]]*(#|$)/ { next }

{
    s = $0
    sub(/^[[:space:]]+/, "", s)
    sub(/[[:space:]]+$/, "", s)
    gsub(/\\\(/, LP, s); gsub(/\\\)/, RP, s); gsub(/\\\*/, ST, s); gsub(/\\\./, DOT, s)
    gsub(/\\\[/, LB, s); gsub(/\\\]/, RB, s); gsub(/\\\+/, PL, s); gsub(/\\\?/, QM, s)
    if (index(s, "\\")) {
        print "kv_version_script: unsupported escape in: " $0 > "/dev/stderr"
        exit 1
    }
    expand(s)
}

# Expands the first group of s and recurses; a string without groups is one
# alternative.
function expand(s,    i, j, k, rest, body, opt, alts, m) {
    i = index(s, "(")
    if (i == 0) {
        add(s)
        return
    }
    rest = substr(s, i + 1)
    j = index(rest, ")")
    body = substr(rest, 1, j - 1)
    if (j == 0 || index(body, "(")) {
        print "kv_version_script: unsupported group in: " $0 > "/dev/stderr"
        exit 1
    }
    rest = substr(rest, j + 1)
    opt = substr(rest, 1, 1) == "?"
    if (opt)
        rest = substr(rest, 2)
    m = split(body, alts, "|")
    for (k = 1; k <= m; ++k)
        expand(substr(s, 1, i - 1) alts[k] rest)
    if (opt)
        expand(substr(s, 1, i - 1) rest)
}

function add(s,    lit, glob) {
    if (s ~ /\.\*|\.|\+|\[|\?/) {
        glob = s
        gsub(/\.\*/, "*", glob)
        gsub(/\]\+/, "]*", glob)
        gsub(/\./, "?", glob)
        gsub(/::/, CC, glob)
        gsub(NOGLOB, "?", glob)
        gsub(CC, "::", glob)
        sub(/^[^A-Za-z_*?[]/, "?", glob)
        keep(glob, glob ~ /^[A-Za-z_][]A-Za-z0-9_*?[-]*$/)
        return
    }
    lit = s
    gsub(LP, "(", lit); gsub(RP, ")", lit); gsub(ST, "*", lit); gsub(DOT, ".", lit)
    gsub(LB, "[", lit); gsub(RB, "]", lit); gsub(PL, "+", lit); gsub(QM, "?", lit)
    keep("\"" lit "\"", lit ~ /^[A-Za-z_][A-Za-z0-9_]*$/)
}

function keep(p, fPlain) {
    if (!(p in seen)) {
        seen[p] = 1
        cpp[++n] = p
    }
    if (fPlain) {
        gsub(/"/, "", p)
        if (!(p in isPlain)) {
            isPlain[p] = 1
            plain[++nPlain] = p
        }
    }
}

END {
    print "# Made from the export list; do not edit."
    print "{"
    print "  global:"
    for (k = 1; k <= nPlain; ++k)
        print "    " plain[k] ";"
    # The sanitizers' own symbols stay as the runtime made them.
    print "    __asan*; __odr_asan*; __ubsan*; __sanitizer*;"
    print "    extern \"C++\" {"
    for (k = 1; k <= n; ++k)
        print "      " cpp[k] ";"
    print "    };"
    print "  local: *;"
    print "};"
}
