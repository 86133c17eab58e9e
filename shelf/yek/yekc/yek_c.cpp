// The host environment over the host's callback table, and the flat entry points.
#include "yek_c.h"

#include <new>

namespace KVdepYek100 {

Time YekEnvRed::tiNext(const Time& ti)
{
    Time tiHost;
    if (_pueC && _pueC->_pFtiNextTick)
        _pueC->_pFtiNextTick(&tiHost);
    return tiHost + ti;
}

void YekEnvRed::sigGet(int iCtx, YekChanKern* pcn)
{
    if (_pueC && _pueC->_pFsigGet)
        _pueC->_pFsigGet(iCtx, pcn ? pcn->getHandle() : nullptr);
}

void YekEnvRed::sigPut(int iCtx, YekChanKern* pcn)
{
    if (_pueC && _pueC->_pFsigPut)
        _pueC->_pFsigPut(iCtx, pcn ? pcn->getHandle() : nullptr);
}

}  // namespace KVdepYek100

using namespace KVdepYek100;

static_assert(sizeof(ChainIterator) <= sizeof(YekIter::_mpch), "a chain iterator fits an iteration block");
static_assert(alignof(ChainIterator) <= alignof(YekIter), "an iteration block is aligned for a chain iterator");

static ChainIterator* newIter(YekIter* pit)
{
    return new (pit->_mpch) ChainIterator;
}

static ChainIterator* iterOf(YekIter* pit)
{
    return std::launder(reinterpret_cast<ChainIterator*>(pit->_mpch));
}

const char* YekProto_szProto(const YekProto* pup)
{
    return pup->szProto();
}

const char* YekProto_szName(const YekProto* pup)
{
    return pup->szName();
}

int YekProto_match(const YekProto* pupServer, const char* szClient, size_t)
{
    return YekProto::match(pupServer->szProto(), szClient) ? 1 : 0;
}

const YekDriverDesc* YekMod_getDriverDesc(const YekMod* pum, unsigned i)
{
    return i < pum->_cDriver ? &pum->_puDd[i] : nullptr;
}

int YekCard_timer(YekCard* pca, int iCtx, const YekTimespec* ptsNow)
{
    return pca->timer(iCtx, Time(*ptsNow));
}

int YekCard_interrupt(YekCard* pca, int iCtx)
{
    return pca->interrupt(iCtx);
}

char* YekCard_print(YekCard* pca, char* pch, int cch)
{
    return pca->print(pch, cch);
}

void YekCard_startIterDrivers(YekCard* pca, YekIter* pit)
{
    pca->startIterDrivers(newIter(pit));
}

YekDriver* YekCard_iterateDrivers(YekCard* pca, YekIter* pit)
{
    return pca->iterDrivers(iterOf(pit));
}

const char* YekDriver_szName(YekDriver* pud)
{
    return pud->szName();
}

char* YekDriver_print(YekDriver* pud, char* pch, int cch)
{
    return pud->print(pch, cch);
}

int YekDriver_init(YekDriver* pud)
{
    return pud->init();
}

void YekDriver_fini(YekDriver* pud)
{
    pud->fini();
}

void YekDriver_startIterChannels(YekDriver* pud, YekIter* pit)
{
    pud->startIterChannels(newIter(pit));
}

YekChannel* YekDriver_iterateChannels(YekDriver* pud, YekIter* pit)
{
    return pud->iterChannels(iterOf(pit));
}

int YekChanKern_num(YekChanKern* pcn)
{
    return pcn->hChan();
}

#ifndef KV_KERNEL
const char* YekChanKern_szProto(YekChanKern* pcn)
{
    // The channel itself is built without a protocol; a driver it is attached
    // to knows the protocol of each of its channels.
    if (pcn->pup())
        return pcn->pup()->szProto();
    const YekDriver* pud = dynamic_cast<const YekDriver*>(pcn->pux());
    const YekProto* pup = pud ? pud->pup(pcn->hChan()) : nullptr;
    return pup ? pup->szProto() : nullptr;
}
#endif

void YekChanKern_setHandle(YekChanKern* pcn, void* h)
{
    pcn->setHandle(h);
}

int YekChanKern_canput(YekChanKern* pcn)
{
    return pcn->pollOut();
}

int YekChanKern_canget(YekChanKern* pcn)
{
    return pcn->pollIn();
}

YekMsgBuf* YekChanKern_getUpBuf(YekChanKern* pcn)
{
    return pcn->getUpBuf();
}

void YekChanKern_releaseUpBuf(YekChanKern* pcn, int iCtx, YekMsgBuf* pmb)
{
    pcn->releaseUpBuf(iCtx, pmb);
}

YekMsgBuf* YekChanKern_allocDownBuf(YekChanKern* pcn)
{
    return pcn->allocDownBuf();
}

void YekChanKern_putDownBuf(YekChanKern* pcn, int iCtx, YekMsgBuf* pmb)
{
    pcn->putDownBuf(iCtx, pmb);
}

YekControlStruct* YekMsgDownBuf_pControl(YekMsgBuf* pmb)
{
    return static_cast<YekControlBuf*>(pmb);
}

char* YekMsgDownBuf_pData(YekMsgBuf* pmb)
{
    return pmb->_mpchData;
}

void YekMsgDownBuf_setDataLim(YekMsgBuf* pmb, size_t n)
{
    pmb->setCount(n);
}

size_t YekMsgDownBuf_sizeDataMax(YekMsgBuf* pmb)
{
    return pmb->cMax();
}

YekControlStruct* YekMsgUpBuf_pControl(YekMsgBuf* pmb)
{
    return static_cast<YekControlBuf*>(pmb);
}

size_t YekMsgUpBuf_sizeControl(YekMsgBuf* pmb)
{
    return static_cast<YekControlBuf*>(pmb)->_size;
}

char* YekMsgUpBuf_pData(YekMsgBuf* pmb)
{
    return pmb->_mpchData;
}

size_t YekMsgUpBuf_sizeData(YekMsgBuf* pmb)
{
    return pmb->cDone();
}
