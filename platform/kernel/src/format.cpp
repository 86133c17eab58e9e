// The platform's formatter, the debug log and the stop routine.
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ntstrsafe.h"
#include "state.h"

namespace kstub {
namespace {

// The target and the count of characters the whole text needs; what does
// not fit (leaving room for the terminator) is counted, not written.
struct Out {
    char* p;
    std::size_t cb;
    std::size_t n = 0;
    std::size_t room() const { return n + 1 < cb ? cb - 1 - n : 0; }
    void put(char c)
    {
        if (n + 1 < cb)
            p[n] = c;
        ++n;
    }
    void append(const char* s, std::size_t len)
    {
        std::size_t k = len < room() ? len : room();
        if (k)
            std::memcpy(p + n, s, k);
        n += len;
    }
    void pad(char c, int k)
    {
        if (k <= 0)
            return;
        std::size_t len = std::size_t(k);
        std::size_t m = len < room() ? len : room();
        if (m)
            std::memset(p + n, c, m);
        n += len;
    }
};

struct Spec {
    bool fLeft = false, fPlus = false, fSpace = false, fAlt = false, fZero = false;
    int width = 0;
    int prec = -1;
};

enum class Size { Default, Char, Short, Long32, Long64, Ptr, Wide, Narrow, LongDouble };

// len characters of a text, cut at the precision and padded to the width;
// emit(n) writes the first n.
template <typename Emit>
void putPadded(Out& o, const Spec& sp, std::size_t len, Emit emit)
{
    if (sp.prec >= 0 && std::size_t(sp.prec) < len)
        len = std::size_t(sp.prec);
    int padn = sp.width > int(len) ? sp.width - int(len) : 0;
    if (!sp.fLeft)
        o.pad(' ', padn);
    emit(len);
    if (sp.fLeft)
        o.pad(' ', padn);
}

void putText(Out& o, const Spec& sp, const char* s, std::size_t len)
{
    putPadded(o, sp, len, [&](std::size_t n) { o.append(s, n); });
}

// A terminated string; with a precision no further than it reaches.
void putText(Out& o, const Spec& sp, const char* s)
{
    putText(o, sp, s, sp.prec >= 0 ? strnlen(s, std::size_t(sp.prec)) : std::strlen(s));
}

char narrowed(WCHAR c) { return c < 0x80 ? char(c) : '?'; }

// Wide text, narrowed as it goes out: cch characters when fBounded, else up
// to the terminator; with a precision no further than it reaches.
void putWide(Out& o, const Spec& sp, const WCHAR* pw, std::size_t cch, bool fBounded)
{
    std::size_t len = 0;
    if (fBounded)
        len = cch;
    else
        while ((sp.prec < 0 || len < std::size_t(sp.prec)) && pw[len] != 0)
            ++len;
    putPadded(o, sp, len, [&](std::size_t n) {
        for (std::size_t i = 0; i < n; ++i)
            o.put(narrowed(pw[i]));
    });
}

void putNumber(Out& o, Spec sp, uint64_t mag, bool fNeg, unsigned base, bool fUpper, bool fSigned)
{
    // The digits fill the buffer from its end, most significant first.
    char digits[32];
    char* const pEnd = digits + sizeof digits;
    char* pd = pEnd;
    const char* set = fUpper ? "0123456789ABCDEF" : "0123456789abcdef";
    // Constant bases: shifts, or a division the compiler turns into a multiply.
    if (base == 16) {
        for (; mag; mag >>= 4)
            *--pd = set[mag & 15];
    } else if (base == 8) {
        for (; mag; mag >>= 3)
            *--pd = set[mag & 7];
    } else {
        for (; mag; mag /= 10)
            *--pd = char('0' + mag % 10);
    }
    int nd = int(pEnd - pd);
    int cZero = 0;
    if (sp.prec >= 0) {
        if (sp.prec > nd)
            cZero = sp.prec - nd;
        sp.fZero = false;
    } else if (nd == 0) {
        cZero = 1;
    }
    char prefix[3];
    int np = 0;
    if (fSigned) {
        if (fNeg)
            prefix[np++] = '-';
        else if (sp.fPlus)
            prefix[np++] = '+';
        else if (sp.fSpace)
            prefix[np++] = ' ';
    }
    if (sp.fAlt && nd > 0) {
        if (base == 16) {
            prefix[np++] = '0';
            prefix[np++] = fUpper ? 'X' : 'x';
        } else if (base == 8 && cZero == 0) {
            cZero = 1;
        }
    }
    int len = np + cZero + nd;
    int padn = sp.width > len ? sp.width - len : 0;
    if (!sp.fLeft && !sp.fZero)
        o.pad(' ', padn);
    for (int i = 0; i < np; ++i)
        o.put(prefix[i]);
    if (!sp.fLeft && sp.fZero)
        o.pad('0', padn);
    o.pad('0', cZero);
    o.append(pd, std::size_t(nd));
    if (sp.fLeft)
        o.pad(' ', padn);
}

// A width or precision written as digits; one beyond an int is the largest.
int readCount(const char*& q)
{
    int n = 0;
    for (; *q >= '0' && *q <= '9'; ++q) {
        int d = *q - '0';
        n = n > (INT_MAX - d) / 10 ? INT_MAX : n * 10 + d;
    }
    return n;
}

}  // namespace

int vformat(char* target, std::size_t cb, const char* fmt, va_list apIn)
{
    va_list ap;
    va_copy(ap, apIn);
    Out o{target, cb};
    for (const char* q = fmt; *q; ++q) {
        if (*q != '%') {
            const char* e = q;
            while (*e && *e != '%')
                ++e;
            o.append(q, std::size_t(e - q));
            q = e - 1;
            continue;
        }
        const char* start = q++;
        Spec sp;
        for (;; ++q) {
            if (*q == '-')
                sp.fLeft = true;
            else if (*q == '+')
                sp.fPlus = true;
            else if (*q == ' ')
                sp.fSpace = true;
            else if (*q == '#')
                sp.fAlt = true;
            else if (*q == '0')
                sp.fZero = true;
            else
                break;
        }
        if (*q == '*') {
            sp.width = va_arg(ap, int);
            if (sp.width < 0) {
                sp.fLeft = true;
                sp.width = sp.width == INT_MIN ? INT_MAX : -sp.width;
            }
            ++q;
        } else {
            sp.width = readCount(q);
        }
        if (*q == '.') {
            ++q;
            if (*q == '*') {
                sp.prec = va_arg(ap, int);
                ++q;
            } else {
                sp.prec = readCount(q);
            }
        }
        Size sz = Size::Default;
        if (q[0] == 'h' && q[1] == 'h') {
            sz = Size::Char;
            q += 2;
        } else if (q[0] == 'h') {
            sz = Size::Short;
            ++q;
        } else if (q[0] == 'l' && q[1] == 'l') {
            sz = Size::Long64;
            q += 2;
        } else if (q[0] == 'l') {
            sz = Size::Long32;
            ++q;
        } else if (q[0] == 'w') {
            sz = Size::Wide;
            ++q;
        } else if (q[0] == 'I' && q[1] == '6' && q[2] == '4') {
            sz = Size::Long64;
            q += 3;
        } else if (q[0] == 'I' && q[1] == '3' && q[2] == '2') {
            sz = Size::Long32;
            q += 3;
        } else if (q[0] == 'I' || q[0] == 'z' || q[0] == 't') {
            sz = Size::Ptr;
            ++q;
        } else if (q[0] == 'j') {
            sz = Size::Long64;
            ++q;
        } else if (q[0] == 'L') {
            sz = Size::LongDouble;
            ++q;
        }
        char conv = *q;
        if (!conv)
            break;
        switch (conv) {
        case '%':
            o.put('%');
            break;
        case 'd':
        case 'i': {
            int64_t v;
            if (sz == Size::Long64 || sz == Size::Ptr)
                v = va_arg(ap, long long);
            else if (sz == Size::Short)
                v = short(va_arg(ap, int));
            else if (sz == Size::Char)
                v = static_cast<signed char>(va_arg(ap, int));
            else
                v = va_arg(ap, int);
            uint64_t mag = v < 0 ? uint64_t(0) - uint64_t(v) : uint64_t(v);
            putNumber(o, sp, mag, v < 0, 10, false, true);
            break;
        }
        case 'u':
        case 'x':
        case 'X':
        case 'o': {
            uint64_t v;
            if (sz == Size::Long64 || sz == Size::Ptr)
                v = va_arg(ap, unsigned long long);
            else if (sz == Size::Short)
                v = uint16_t(va_arg(ap, unsigned));
            else if (sz == Size::Char)
                v = uint8_t(va_arg(ap, unsigned));
            else
                v = va_arg(ap, unsigned);
            unsigned base = conv == 'u' ? 10 : conv == 'o' ? 8 : 16;
            putNumber(o, sp, v, false, base, conv == 'X', false);
            break;
        }
        case 'p': {
            uint64_t v = uint64_t(reinterpret_cast<uintptr_t>(va_arg(ap, void*)));
            Spec sp2 = sp;
            sp2.prec = 16;
            sp2.fAlt = false;
            putNumber(o, sp2, v, false, 16, true, false);
            break;
        }
        case 'c':
        case 'C': {
            int c = va_arg(ap, int);
            bool fWide = conv == 'C' || sz == Size::Wide || sz == Size::Long32;
            char ch = fWide ? (c >= 0 && c < 0x80 ? char(c) : '?') : char(c);
            putText(o, sp, &ch, 1);
            break;
        }
        case 's':
        case 'S': {
            bool fWide = conv == 'S' || sz == Size::Wide || sz == Size::Long32;
            if (conv == 'S' && sz == Size::Short)
                fWide = false;
            if (fWide) {
                const WCHAR* pw = va_arg(ap, const WCHAR*);
                if (pw)
                    putWide(o, sp, pw, 0, false);
                else
                    putText(o, sp, "(null)");
            } else {
                const char* ps = va_arg(ap, const char*);
                putText(o, sp, ps ? ps : "(null)");
            }
            break;
        }
        case 'Z': {
            if (sz == Size::Wide) {
                auto* pus = va_arg(ap, const UNICODE_STRING*);
                if (pus && pus->Buffer)
                    putWide(o, sp, pus->Buffer, pus->Length / 2, true);
                else
                    putText(o, sp, "(null)");
            } else {
                auto* pas = va_arg(ap, const ANSI_STRING*);
                if (pas && pas->Buffer)
                    putText(o, sp, pas->Buffer, pas->Length);
                else
                    putText(o, sp, "(null)");
            }
            break;
        }
        case 'n':
            (void)va_arg(ap, void*);  // not supported by the platform: writes nothing
            break;
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A': {
            // The C library formats the number with the directive as written.
            char f[64];
            std::size_t cf = std::size_t(q + 1 - start);
            std::string fLong;
            const char* pf = f;
            if (cf < sizeof f) {
                std::memcpy(f, start, cf);
                f[cf] = 0;
            } else {
                fLong.assign(start, q + 1);
                pf = fLong.c_str();
            }
            char tmp[512];
            if (sz == Size::LongDouble) {
                long double v = va_arg(ap, long double);
                std::snprintf(tmp, sizeof tmp, pf, v);
            } else {
                double v = va_arg(ap, double);
                std::snprintf(tmp, sizeof tmp, pf, v);
            }
            o.append(tmp, std::strlen(tmp));
            break;
        }
        default:
            for (const char* t = start; t <= q; ++t)
                o.put(*t);
            break;
        }
    }
    va_end(ap);
    if (cb > 0)
        target[o.n < cb ? o.n : cb - 1] = 0;
    return o.n < std::size_t(INT_MAX) ? int(o.n) : INT_MAX;
}

int format(char* target, std::size_t cb, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int n = vformat(target, cb, fmt, ap);
    va_end(ap);
    return n;
}

std::string formatString(const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int n = vformat(nullptr, 0, fmt, ap);
    va_end(ap);
    std::string r(std::size_t(n) + 1, '\0');
    va_start(ap, fmt);
    vformat(&r[0], r.size(), fmt, ap);
    va_end(ap);
    r.resize(std::size_t(n));
    return r;
}

namespace detail {

// False when no record is kept and nothing is echoed: the text is not needed.
bool recordTextWanted()
{
    State* ps = curOrNull();
    if (!ps)
        return true;
    std::lock_guard<std::mutex> lk(ps->logMtx);
    return ps->fEcho || ps->records.capacity() > 0 || !ps->watched.empty();
}

// Into the slot of the ring, whose storage a full ring reuses.
void logRecord(const char* text)
{
    State* ps = curOrNull();
    bool fEcho = !ps;
    if (ps) {
        std::lock_guard<std::mutex> lk(ps->logMtx);
        ps->records.pushSlot().assign(text);
        for (auto& [s, c] : ps->watched)
            if (std::strstr(text, s.c_str()))
                ++c;
        fEcho = ps->fEcho;
    }
    if (fEcho) {
        std::fputs(text, stderr);
        std::fflush(stderr);
    }
}

}  // namespace detail

using namespace detail;

std::vector<std::string> Log::records() const
{
    std::lock_guard<std::mutex> lk(_s.logMtx);
    return _s.records.toVector();
}

uint64_t Log::total() const
{
    std::lock_guard<std::mutex> lk(_s.logMtx);
    return _s.records.total();
}

std::string Log::text() const
{
    std::lock_guard<std::mutex> lk(_s.logMtx);
    std::string r;
    for (const auto& s : _s.records)
        r += s;
    return r;
}

std::vector<std::string> Log::lines() const
{
    std::string t = text();
    std::vector<std::string> r;
    std::size_t pos = 0;
    while (pos < t.size()) {
        std::size_t nl = t.find('\n', pos);
        if (nl == std::string::npos) {
            r.push_back(t.substr(pos));
            break;
        }
        r.push_back(t.substr(pos, nl - pos));
        pos = nl + 1;
    }
    return r;
}

bool Log::contains(const std::string& s) const { return text().find(s) != std::string::npos; }

std::size_t Log::count(const std::string& s) const
{
    std::size_t n = 0;
    for (const auto& l : lines())
        if (l.find(s) != std::string::npos)
            ++n;
    return n;
}

void Log::clear()
{
    std::lock_guard<std::mutex> lk(_s.logMtx);
    _s.records.clear();
}

void Log::echo(bool fOn)
{
    std::lock_guard<std::mutex> lk(_s.logMtx);
    _s.fEcho = fOn;
}

void Log::watch(const std::string& s)
{
    std::lock_guard<std::mutex> lk(_s.logMtx);
    for (auto& w : _s.watched)
        if (w.first == s) {
            w.second = 0;
            return;
        }
    _s.watched.emplace_back(s, 0);
}

std::size_t Log::seen(const std::string& s) const
{
    std::lock_guard<std::mutex> lk(_s.logMtx);
    for (const auto& w : _s.watched)
        if (w.first == s)
            return w.second;
    return 0;
}

}  // namespace kstub

using namespace kstub;

ULONG vDbgPrintEx(ULONG, ULONG, PCSTR Format, va_list ap)
{
    char buf[512];  // the platform cuts a debug print at 512 bytes
    buf[0] = 0;
    if (detail::recordTextWanted())
        vformat(buf, sizeof buf, Format, ap);
    detail::logRecord(buf);
    return STATUS_SUCCESS;
}

ULONG DbgPrint(PCSTR Format, ...)
{
    va_list ap;
    va_start(ap, Format);
    ULONG r = vDbgPrintEx(0, 0, Format, ap);
    va_end(ap);
    return r;
}

ULONG DbgPrintEx(ULONG ComponentId, ULONG Level, PCSTR Format, ...)
{
    va_list ap;
    va_start(ap, Format);
    ULONG r = vDbgPrintEx(ComponentId, Level, Format, ap);
    va_end(ap);
    return r;
}

VOID KeBugCheckEx(ULONG BugCheckCode, ULONG_PTR P1, ULONG_PTR P2, ULONG_PTR P3, ULONG_PTR P4)
{
    char text[13];
    ULONG_PTR w[3] = {P1, P2, P3};
    for (int i = 0; i < 12; ++i) {
        unsigned char c = (w[i / 4] >> ((3 - i % 4) * 8)) & 0xFF;
        text[i] = c >= 0x20 && c < 0x7F ? char(c) : c == 0 ? ' ' : '.';
    }
    text[12] = 0;
    std::fprintf(stderr,
                 "*** STOP 0x%08X (0x%016" PRIX64 ", 0x%016" PRIX64 ", 0x%016" PRIX64 ", 0x%016" PRIX64
                 ")\n*** parameters 1-3 as text \"%s\", parameter 4 = %" PRIu64 "\n",
                 unsigned(BugCheckCode), uint64_t(P1), uint64_t(P2), uint64_t(P3), uint64_t(P4),
                 text, uint64_t(P4));
    std::fflush(stderr);
    std::abort();
}

VOID KeBugCheck(ULONG BugCheckCode) { KeBugCheckEx(BugCheckCode, 0, 0, 0, 0); }

NTSTATUS RtlStringCbVPrintfA(NTSTRSAFE_PSTR pszDest, size_t cbDest, NTSTRSAFE_PCSTR pszFormat,
                             va_list argList)
{
    if (!pszDest || cbDest == 0 || cbDest > NTSTRSAFE_MAX_CCH)
        return STATUS_INVALID_PARAMETER;
    int n = vformat(pszDest, cbDest, pszFormat, argList);
    return std::size_t(n) < cbDest ? STATUS_SUCCESS : STATUS_BUFFER_OVERFLOW;
}

NTSTATUS RtlStringCbPrintfA(NTSTRSAFE_PSTR pszDest, size_t cbDest, NTSTRSAFE_PCSTR pszFormat, ...)
{
    va_list ap;
    va_start(ap, pszFormat);
    NTSTATUS st = RtlStringCbVPrintfA(pszDest, cbDest, pszFormat, ap);
    va_end(ap);
    return st;
}

NTSTATUS RtlStringCbLengthA(NTSTRSAFE_PCSTR psz, size_t cbMax, size_t* pcbLength)
{
    std::size_t n = 0;
    bool fOk = psz && cbMax <= NTSTRSAFE_MAX_CCH;
    if (fOk) {
        n = strnlen(psz, cbMax);
        fOk = n < cbMax;
    }
    if (pcbLength)
        *pcbLength = fOk ? n : 0;
    return fOk ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
}
