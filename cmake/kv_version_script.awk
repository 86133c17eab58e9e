# Makes a linker version script from an export list: one extended regular
# expression a line over demangled names (blank lines and # lines skipped),
# as the exports check reads it. Every symbol the list does not name is local.
# Run with the expressions' reader: awk -f kv_export_patterns.awk -f this.
#
# Each expression is expanded into its alternatives; one without a wildcard
# becomes a quoted demangled name, one with a wildcard a glob in which every
# character the script syntax cannot hold matches any character. A name that
# could be a plain C symbol is kept under its own name too.

BEGIN {
    CC = "\011"
    NOGLOB = "[^]A-Za-z0-9_$*?[" CC "-]"
    n = 0; nPlain = 0
}

/^[[:space:]]*(#|$)/ { next }

{ expand(escaped($0)) }

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
