// The module log and the assertion that stops the system.
#include <ntstrsafe.h>

#include "wm.h"

Wm::Wm(const YekMod* pum)
    : _szDid("kqir"),
      _szVers(szWmVersion),
      _szDevName("ZEDOZ_EVU"),
      _pum(pum),
      _mppad(pum ? pum->_mppad : nullptr),
      _fDebug(0)
{
}

void Wm::vlog(ULONG fClass, const char* szFmt, va_list ap) const
{
    if (!isLogged(fClass))
        return;
    char szPrefix[cbWmLogPrefix];
    char szMsg[cbWmLogMessage];
    RtlStringCbPrintfA(szPrefix, sizeof szPrefix, "%s: %%s\n", _szDid);
    RtlStringCbVPrintfA(szMsg, sizeof szMsg, szFmt, ap);
    DbgPrint(szPrefix, szMsg);
}

void Wm::log(ULONG fClass, const char* szFmt, ...) const
{
    if (!isLogged(fClass))
        return;
    va_list ap;
    va_start(ap, szFmt);
    vlog(fClass, szFmt, ap);
    va_end(ap);
}

void wmAssertWords(const char* szSrc, ULONG_PTR mpw[3])
{
    uint32_t mpu[3] = {0, 0, 0};
    for (int i = 0; szSrc && szSrc[i] != '\0' && i < 12; ++i) {
        // Computed in 32 bits without sign: the sum wraps as the words do.
        uint32_t u = static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(szSrc[i])));
        mpu[i / 4] += u << ((3 - i % 4) * 8);
    }
    for (int k = 0; k < 3; ++k)
        mpw[k] = static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<int32_t>(mpu[k])));
}

void wmAssert(const char*, const char* szSrc, int iLine)
{
    ULONG_PTR mpw[3];
    wmAssertWords(szSrc, mpw);
    KeBugCheckEx(uWmBugCheck, mpw[0], mpw[1], mpw[2], static_cast<ULONG_PTR>(iLine));
}
