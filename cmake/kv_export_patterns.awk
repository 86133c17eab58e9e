# The expressions of the export lists, for the scripts that read them (the
# version script, kv_version_script.awk, and the exports check,
# tests/exports/export_alternatives.awk): awk -f kv_export_patterns.awk -f ...
# The reading script defines add(s) for one alternative of an expression.
#
# The expressions use literal text, escaped characters, ".*", character
# classes with "+" and groups of alternatives, optional or not, never nested;
# "|" only inside a group.
# escaped() puts each escaped character as one placeholder; expand() hands
# each alternative to add(): an optional group is expanded with and without
# its text, or, with fKeepOptional set, kept as it stands (between KL and KR).

BEGIN {
    LP = "\001"; RP = "\002"; ST = "\003"; DOT = "\004"; LB = "\005"; RB = "\006"; PL = "\007"; QM = "\010"
    KL = "\016"; KR = "\017"
}

# The expression of a list's line, its escapes as placeholders; a line with an
# escape the lists do not use stops the script.
function escaped(line,    s) {
    s = line
    sub(/^[[:space:]]+/, "", s)
    sub(/[[:space:]]+$/, "", s)
    gsub(/\\\(/, LP, s); gsub(/\\\)/, RP, s); gsub(/\\\*/, ST, s); gsub(/\\\./, DOT, s)
    gsub(/\\\[/, LB, s); gsub(/\\\]/, RB, s); gsub(/\\\+/, PL, s); gsub(/\\\?/, QM, s)
    if (index(s, "\\"))
        stop("unsupported escape in: " line)
    return s
}

function stop(sz) {
    print "export list: " sz > "/dev/stderr"
    exit 1
}

# Expands the first group of s and recurses; a string without groups is one
# alternative. An alternation outside a group would let either side stand
# for both, so it stops the script.
function expand(s,    i, j, k, rest, body, opt, alts, m, outside) {
    i = index(s, "(")
    if (i == 0) {
        outside = s
        gsub(KL "[^" KR "]*" KR, "", outside)
        if (index(outside, "|"))
            stop("alternation outside a group in: " $0)
        add(s)
        return
    }
    rest = substr(s, i + 1)
    j = index(rest, ")")
    body = substr(rest, 1, j - 1)
    if (j == 0 || index(body, "("))
        stop("unsupported group in: " $0)
    rest = substr(rest, j + 1)
    opt = substr(rest, 1, 1) == "?"
    if (opt && fKeepOptional) {
        expand(substr(s, 1, i - 1) KL body KR rest)
        return
    }
    if (opt)
        rest = substr(rest, 2)
    m = split(body, alts, "|")
    for (k = 1; k <= m; ++k)
        expand(substr(s, 1, i - 1) alts[k] rest)
    if (opt)
        expand(substr(s, 1, i - 1) rest)
}
