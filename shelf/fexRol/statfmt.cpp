#include "statfmt.h"

#include <cstdint>

namespace {

// The output: characters past the room are counted, not stored.
struct Out {
    char* sz;
    unsigned size;
    unsigned c;

    void put(char ch)
    {
        if (c + 1 < size)
            sz[c] = ch;
        ++c;
    }
    void put(const char* szText)
    {
        while (*szText)
            put(*szText++);
    }
    void put(uint32_t u, unsigned uBase)
    {
        char mpch[10];
        int n = 0;
        do {
            mpch[n++] = "0123456789abcdef"[u % uBase];
            u /= uBase;
        } while (u != 0);
        while (n > 0)
            put(mpch[--n]);
    }
};

}  // namespace

int fexPrintStat(char* sz, unsigned size, unsigned uStat, const char* szText, int iNum)
{
    Out o{sz, size, 0};
    o.put("stat=");
    o.put(uStat, 16);
    o.put(" (");
    o.put(szText);
    o.put(' ');
    if (iNum < 0) {
        o.put('-');
        o.put(0u - static_cast<uint32_t>(iNum), 10);
    } else {
        o.put(static_cast<uint32_t>(iNum), 10);
    }
    o.put(')');
    if (size != 0)
        sz[o.c < size ? o.c : size - 1] = '\0';
    return static_cast<int>(o.c);
}
