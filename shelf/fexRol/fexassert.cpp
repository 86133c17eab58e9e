#include "fexassert.h"

#include <cstdio>
#include <cstdlib>

namespace {
FexAssertHook g_pfAssert = nullptr;
}

void fexAssertReport(const char* szExpr, const char* szSrc, int iLine)
{
    std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", szExpr, szSrc, iLine);
    std::fflush(stderr);
    std::abort();
}

void fexAssertFail(const char* szExpr, const char* szSrc, int iLine)
{
    if (g_pfAssert)
        g_pfAssert(szExpr, szSrc, iLine);
    // A hook that returns does not make the invariant hold again.
    fexAssertReport(szExpr, szSrc, iLine);
}

FexAssertHook fexSetAssertHook(FexAssertHook pf)
{
    FexAssertHook pfOld = g_pfAssert;
    g_pfAssert = pf;
    return pfOld;
}
