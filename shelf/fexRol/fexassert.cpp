#include "fexassert.h"

#ifndef KV_KERNEL
#include <cstdio>
#include <cstdlib>
#endif

namespace {
FexAssertHook g_pfAssert = nullptr;
}

#ifndef KV_KERNEL
void fexAssertReport(const char* szExpr, const char* szSrc, int iLine)
{
    std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", szExpr, szSrc, iLine);
    std::fflush(stderr);
    std::abort();
}
#endif

void fexAssertFail(const char* szExpr, const char* szSrc, int iLine)
{
    if (g_pfAssert)
        g_pfAssert(szExpr, szSrc, iLine);
    // A hook that returns does not make the invariant hold again.
#ifdef KV_KERNEL
    __builtin_trap();
#else
    fexAssertReport(szExpr, szSrc, iLine);
#endif
}

FexAssertHook fexSetAssertHook(FexAssertHook pf)
{
    FexAssertHook pfOld = g_pfAssert;
    g_pfAssert = pf;
    return pfOld;
}
