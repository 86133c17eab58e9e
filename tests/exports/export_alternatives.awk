# Lists every alternative of an export list's expressions, one expression a
# line, for the exports check: each of them must match an export of its own.
# Optional groups stay as they stand. Run with the expressions' reader:
# awk -f cmake/kv_export_patterns.awk -f this <patterns>

BEGIN { fKeepOptional = 1 }

{ expand(escaped($0)) }

# The alternative as an expression again.
function add(s) {
    gsub(LP, "\\(", s); gsub(RP, "\\)", s); gsub(ST, "\\*", s); gsub(DOT, "\\.", s)
    gsub(LB, "\\[", s); gsub(RB, "\\]", s); gsub(PL, "\\+", s); gsub(QM, "\\?", s)
    gsub(KL, "(", s); gsub(KR, ")", s)
    print s
}
