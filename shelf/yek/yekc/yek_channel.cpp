// Channel moves and their signals.
#include "yek_driver.h"

#include <initializer_list>
#ifndef KV_KERNEL
#include <ostream>
#endif

#include "fexassert.h"

namespace KVdepYek100 {

static const char szSrc[] = "yek_driver";

YekChannel::YekChannel(const YekProto* pup) : _pup(pup), _pux(nullptr), _hChan(-1), _cDriverMax(0) {}

YekChannel::~YekChannel() = default;

void YekChannel::finiPool(Link*) {}

void YekChannel::initPoolDown(YekMsgBuf* p)
{
    _cnYkdPool.import(p);
}

void YekChannel::initPoolUp(YekMsgBuf* p)
{
    _cnYkuPool.import(p);
}

void YekChannel::initPlex(YekPlex* pux, int hChan, int cDriverMax)
{
    FEX_ASSERT(_pux == nullptr, "_pux == 0", szSrc, 229);
    _pux = pux;
    _hChan = hChan;
    _cDriverMax = static_cast<uint32_t>(cDriverMax);
}

void YekChannel::finiPlex()
{
    _pux = nullptr;
    _hChan = -1;
    _cDriverMax = 0;
}

void YekChannel::finiQueues()
{
    _cnYkdPool.import(&_cnYkdQueue);
    _cnYkdPool.import(&_cnYkdDriver);
    _cnYkdPool.import(&_cnYkdUser);
    _cnYkuPool.import(&_cnYkuQueue);
    _cnYkuPool.import(&_cnYkuDriver);
    _cnYkuPool.import(&_cnYkuUser);
}

void YekChannel::finiPools()
{
    ChainIterator it;
    for (ChainRaw* pcn : {&_cnYkdPool, &_cnYkuPool}) {
        pcn->start_iter(&it);
        // The iterator is past pl before finiPool may delete it.
        while (Link* pl = pcn->iterate(&it))
            finiPool(pl);
    }
}

YekMsgBuf* YekChannel::allocDownBuf()
{
    Link* pl = _cnYkdPool.tail();
    if (!pl)
        return nullptr;
    _cnYkdUser.import(pl);
    return pmbOf(pl);
}

void YekChannel::putDownBuf(int iCtx, YekMsgBuf* pYkd)
{
    FEX_ASSERT(pYkd->chain() == pcnYkdUser(), "pYkd->chain() == pcnYkdUser()", szSrc, 159);
    _cnYkdQueue.import(pYkd);
    if (_pux && (_cDriverMax == 0 || _cnYkdDriver.count() < _cDriverMax))
        _pux->sigDown(iCtx, this, _hChan);
}

Pmd YekChannel::getDown(int)
{
    Link* pl = _cnYkdQueue.head();
    FEX_ASSERT(pl, "pcnYkdQueue()->head()", szSrc, 89);
    _cnYkdDriver.import(pl);
    return pmbOf(pl);
}

void YekChannel::releaseDown(int iCtx, Pmd pmd)
{
    FEX_ASSERT(pmd->chain() == pcnYkdDriver(), "pmd->chain() == pcnYkdDriver()", szSrc, 119);
    _cnYkdPool.import(pmbOf(pmd));
    if (_cnYkdQueue.count() != 0 && _pux)
        _pux->sigDown(iCtx, this, _hChan);
    sigPut(iCtx);
}

Pmu YekChannel::allocUp(size_t sDataMax)
{
    Link* pl = _cnYkuPool.tail();
    if (!pl)
        return nullptr;
    FEX_ASSERT(sDataMax <= SZ_DATA_MAX, "sDataMax <= __SZ_DATA_MAX", szSrc, 79);
    _cnYkuDriver.import(pl);
    YekMsgBuf* pmb = pmbOf(pl);
    pmb->setLimit(sDataMax);
    return pmb;
}

Pmu YekChannel::allocUp(size_t sDataMax, Pmd)
{
    return allocUp(sDataMax);
}

Pmu YekChannel::allocUpForced(size_t sDataMax)
{
    // Drops the newest unsent up message when no buffer is free.
    if (_cnYkuPool.count() == 0 && _cnYkuQueue.tail())
        _cnYkuPool.import(_cnYkuQueue.tail());
    return allocUp(sDataMax);
}

void YekChannel::putUp(int iCtx, Pmu pmu, bool fFlush)
{
    if (pmu) {
        FEX_ASSERT(pmu->chain(), "pmu->chain()", szSrc, 60);
        FEX_ASSERT(pmu->chain() == pcnYkuDriver(), "pmu->chain() == pcnYkuDriver()", szSrc, 61);
        _cnYkuQueue.import(pmbOf(pmu));
    }
    if (fFlush && _cnYkuQueue.count() != 0)
        sigGet(iCtx);
}

YekMsgBuf* YekChannel::getUpBuf()
{
    Link* pl = _cnYkuQueue.head();
    if (!pl)
        return nullptr;
    _cnYkuUser.import(pl);
    return pmbOf(pl);
}

void YekChannel::releaseUpBuf(int iCtx, YekMsgBuf* pYku)
{
    FEX_ASSERT(pYku->chain() == pcnYkuUser(), "pYku->chain() == pcnYkuUser()", szSrc, 182);
    bool fWasEmpty = _cnYkuPool.count() == 0;
    _cnYkuPool.import(pYku);
    if (fWasEmpty && _pux)
        _pux->sigUp(iCtx, this, _hChan);
}

Pmd YekChannel::pmdDown(int iOffs) const
{
    if (iOffs < 0)
        return nullptr;
    Link* pl = _cnYkdDriver.get(iOffs);
    return pl ? pmbOf(pl) : nullptr;
}

Pmu YekChannel::pmuUp(int iOffs) const
{
    FEX_ASSERT(iOffs == 0, "0", szSrc, 110);
    Link* pl = _cnYkuDriver.head();
    return pl ? pmbOf(pl) : nullptr;
}

Pmd YekChannel::peekDown() const
{
    Link* pl = _cnYkdQueue.head();
    return pl ? pmbOf(pl) : nullptr;
}

#ifndef KV_KERNEL
std::ostream& YekChannel::printQueues(std::ostream& os) const
{
    return os << "dq=" << _cnYkdQueue.count() << " dd=" << _cnYkdDriver.count() << " du=" << _cnYkdUser.count()
              << " dp=" << _cnYkdPool.count() << " " << " uq=" << _cnYkuQueue.count()
              << " ud=" << _cnYkuDriver.count() << " uu=" << _cnYkuUser.count() << " up=" << _cnYkuPool.count();
}
#endif

}  // namespace KVdepYek100
