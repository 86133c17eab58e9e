// Plexers, protocol drivers, boards, host channels and the host environment.
#include "yek_driver.h"

#include "fexassert.h"

namespace KVdepYek100 {

static const char szSrc[] = "yek_driver";

YekPlex::~YekPlex() = default;

int YekPlex::openChannel(const char*, YekChannel*)
{
    return -1;
}

void YekPlex::closeChannel(int) {}

int YekPlex::putDown(int, Pmd, int)
{
    FEX_ASSERT(0, "0", szSrc, 237);
    return 0;
}

void YekPlex::backenable(int, int)
{
    FEX_ASSERT(0, "0", szSrc, 236);
}

void YekPlex::sigDown(int iCtx, YekChannel* pcn, int hChan)
{
    // One message; the release of it signals again while more are queued.
    putDown(iCtx, pcn->getDown(iCtx), hChan);
}

void YekPlex::sigUp(int iCtx, YekChannel*, int hChan)
{
    backenable(iCtx, hChan);
}

static char* printEmpty(char* pch, int cch)
{
    if (pch && cch > 0)
        pch[0] = '\0';
    return pch;
}

int YekDriver::vinit()
{
    return 0;
}

void YekDriver::vfini() {}

char* YekDriver::print(char* pch, int cch) const
{
    return printEmpty(pch, cch);
}

int YekDriver::init()
{
    FEX_ASSERT(pca(), "pca()", szSrc, 252);
    if (pca()->setDriver(this) != 0)
        return -1;
    int iRet = vinit();
    // A driver that did not start must not keep the board claimed.
    if (iRet != 0)
        pca()->clrDriver(this);
    return iRet;
}

void YekDriver::fini()
{
    ChainIterator it;
    startIterChannels(&it);
    while (YekChannel* pcn = iterChannels(&it))
        pcn->finiQueues();
    vfini();
    if (pca())
        pca()->clrDriver(this);
}

YekCard::~YekCard() = default;

char* YekCard::print(char* pch, int cch) const
{
    return printEmpty(pch, cch);
}

int YekCard::setDriver(YekDriver* pud)
{
    if (_pudCur)
        return -1;
    _pudCur = pud;
    return 0;
}

int YekCard::clrDriver(YekDriver* pud)
{
    if (!pud || pud != _pudCur)
        return -1;
    _pudCur = nullptr;
    return 0;
}

YekTimerSched::~YekTimerSched() = default;
YekMsgSig::~YekMsgSig() = default;

void YekEnv::sigGet(int, YekChanKern*) {}
void YekEnv::sigPut(int, YekChanKern*) {}

void YekChanKern::sigGet(int iCtx)
{
    if (_pue)
        _pue->sigGet(iCtx, this);
}

void YekChanKern::sigPut(int iCtx)
{
    if (_pue)
        _pue->sigPut(iCtx, this);
}

}  // namespace KVdepYek100
