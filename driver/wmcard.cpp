// Board and channel objects.
#include "wmcard.h"

#include <ntstrsafe.h>

#include "yek_c.h"

static const char szSrc[] = "wmcard";

namespace {
const ULONG uTagRemove = 0x7271766B;  // 'kvqr'
}

// ---------------------------------------------------------------------------
// Card

Card::Card(Wm* pwm, CardSlot* pci, PDEVICE_OBJECT pdo)
    : _pwm(pwm),
      _pci(pci),
      _eState(),
      _pdo(pdo),
      _pdoLower(nullptr),
      _fOpen(0),
      _iDriver(-1),
      _fRemoved(),
      _mtxOpen(),
      _rml()
{
    KeInitializeMutex(&_mtxOpen, 0);
    IoInitializeRemoveLock(&_rml, uTagRemove, 0, 0);
    log(fWmFlow, "ctCard");
}

Card::~Card() = default;

bool Card::isEnd(const ChanIter& it) const
{
    return it.iDriver() >= pum()->_cDriver;
}

bool Card::valid(const ChanIter& it) const
{
    const YekDriverDesc* pudd = YekMod_getDriverDesc(pum(), it.iDriver());
    return pudd && it.iChanOfDriver() < pudd->_cChan;
}

void Card::first(ChanIter* pit) const
{
    *pit = ChanIter(0, 0);
}

void Card::next(ChanIter* pit) const
{
    WM_ASSERT(!isEnd(*pit), "!isEnd(pit)", szSrc);
    const YekDriverDesc* pudd = YekMod_getDriverDesc(pum(), pit->iDriver());
    if (pit->iChanOfDriver() + 1 >= pudd->_cChan)
        *pit = ChanIter(pit->iDriver() + 1, 0);
    else
        *pit = ChanIter(pit->iDriver(), pit->iChanOfDriver() + 1);
}

const KVdepYek100::YekProto* Card::pup() const
{
    WM_ASSERT(isDriver(), "isDriver()", szSrc);
    const YekDriverDesc* pudd = YekMod_getDriverDesc(pum(), static_cast<unsigned>(_iDriver));
    WM_ASSERT(pudd, "pUdd", szSrc);
    return pudd->_pup;
}

int Card::openFirst(const ChanIter& it)
{
    if (_fOpen != 0)
        return -2;
    if (!valid(it))
        return -1;
    _iDriver = static_cast<LONG>(it.iDriver());
    _fOpen = it.bit();
    return 0;
}

int Card::openNext(const ChanIter& it)
{
    WM_ASSERT(_fOpen, "_fOpen", szSrc);
    if (static_cast<LONG>(it.iDriver()) != _iDriver)
        return -1;
    if (!valid(it))
        return -2;
    if (_fOpen & it.bit())
        return -3;
    _fOpen |= it.bit();
    return 0;
}

void Card::closeAt(const ChanIter& it)
{
    WM_ASSERT(_fOpen, "_fOpen", szSrc);
    WM_ASSERT(static_cast<LONG>(it.iDriver()) == _iDriver, "(int)it.iDriver() == _iDriver", szSrc);
    _fOpen &= ~it.bit();
    if (_fOpen == 0)
        _iDriver = -1;
}

void Card::log(ULONG fClass, const char* szFmt, ...) const
{
    if (!_pwm->isLogged(fClass))
        return;
    char szMsg[cbWmLogMessage];
    va_list ap;
    va_start(ap, szFmt);
    RtlStringCbVPrintfA(szMsg, sizeof szMsg, szFmt, ap);
    va_end(ap);
    if (isGood()) {
        char szPrefix[cbWmLogPrefix];
        RtlStringCbPrintfA(szPrefix, sizeof szPrefix, "%s%ld: %%s\n", _pwm->_szDid, iSlot());
        DbgPrint(szPrefix, szMsg);
        return;
    }
    // The status text goes into the line, never into a format.
    char szStat[cbWmLogPrefix];
    Failable::print(szStat, sizeof szStat);
    char szLine[cbWmLogPrefix + cbWmLogMessage + cbWmLogPrefix];
    RtlStringCbPrintfA(szLine, sizeof szLine, "%s%td: %s (%s)\n", _pwm->_szDid,
                       static_cast<ptrdiff_t>(iSlot()), szMsg, szStat);
    DbgPrint("%s", szLine);
}

// ---------------------------------------------------------------------------
// Chan

Chan::Chan(Card* pca, ULONG iDriver, ULONG iChan)
    : _fDir(0),
      _uTrace(0),
      _pIrp(nullptr),
      _cOpen(0),
      _fRead(),
      _pca(pca),
      _iDriver(iDriver),
      _iChan(iChan),
      _iStat(STATUS_SUCCESS),
      _ioc64(),
      _pioc(&_ioc64),
      _cbIoc(cbYekIoc)
{
}

void Chan::open()
{
    if (_cOpen == 0)
        _fRead.set(1);
    ++_cOpen;
}

UCHAR Chan::toggleRead()
{
    return static_cast<UCHAR>(_fRead.exclusiveOr(1) ^ 1);
}

void Chan::close()
{
    _pca->log(fWmFlow, "close, cOpen=%d", static_cast<int>(_cOpen));
    --_cOpen;
}

int Chan::attachIrp(PIRP pIrp)
{
    WM_ASSERT(pIrp, "pIrp", szSrc);
    if (InterlockedCompareExchangePointer(&_pIrp, pIrp, nullptr) != nullptr)
        return 0;
    // Only the holder of the request clears the trace: a refused attach
    // leaves the detach of the request in progress alone.
    _uTrace = 0;
    return 1;
}

PIRP Chan::detachIrp(const char* szSrcDetach, int iLine)
{
    for (WmMdl& m : _mpmdl)
        m.unmap();
    _mdlIoc.unmap();
    if (!pIrp())
        wmAssert("pIrp", szSrcDetach, iLine | static_cast<int>(_uTrace));
    _uTrace = static_cast<ULONG>(iLine) << 16;
    return static_cast<PIRP>(InterlockedExchangePointer(&_pIrp, nullptr));
}

void Chan::resetMappings()
{
    _mdlIoc.reset();
    for (WmMdl& m : _mpmdl)
        m.reset();
}

namespace {

YekMemStruct* recordOf(YekIoc* pioc, WmRecord iRec)
{
    switch (iRec) {
    case iRecCd: return &pioc->_cd;
    case iRecDd: return &pioc->_dd;
    case iRecCu: return &pioc->_cu;
    default: return &pioc->_du;
    }
}

}  // namespace

void Chan::prepare(ULONG cb)
{
    _cbIoc = cb;
    const char* pchUser = _mdlIoc.pch();
    if (cb == cbYekIoc32) {
        char* pchWork = reinterpret_cast<char*>(&_ioc64);
        for (unsigned i = 0; i < cYekIocValues; ++i) {
            uint32_t u;
            RtlCopyMemory(&u, pchUser + 4 * i, 4);
            // Widened with its sign: an address at or above 2 GiB becomes
            // one of the upper half, which no caller can map.
            ULONG_PTR uw = static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<int32_t>(u)));
            RtlCopyMemory(pchWork + 8 * i, &uw, 8);
            _pca->log(fWmFlow, "%i %x %p", static_cast<int>(i), u, reinterpret_cast<PVOID>(uw));
        }
    } else {
        // One read of the caller's block: the records are checked and used
        // from this copy.
        RtlCopyMemory(static_cast<void*>(&_ioc64), pchUser, sizeof _ioc64);
    }
    _pioc = &_ioc64;
}

void Chan::writeBack()
{
    if (!isThunked())
        return;
    char* pchUser = _mdlIoc.pch();
    const char* pchWork = reinterpret_cast<const char*>(&_ioc64);
    for (unsigned i = 0; i < cYekIocValues; ++i) {
        ULONG_PTR uw;
        RtlCopyMemory(&uw, pchWork + 8 * i, 8);
        uint32_t u = static_cast<uint32_t>(uw);
        RtlCopyMemory(pchUser + 4 * i, &u, 4);
        _pca->log(fWmFlow, "%i %p %x", static_cast<int>(i), reinterpret_cast<PVOID>(uw), u);
    }
}

void Chan::setDataLimit(WmRecord iRec, size_t n)
{
    YekMemStruct* pum = recordOf(&_ioc64, iRec);
    pum->_pchLimDat = pum->_pchBase + n;
    if (!isThunked()) {
        // The caller's own block changes in place.
        char* pchField = _mdlIoc.pch() + (reinterpret_cast<char*>(&pum->_pchLimDat) - reinterpret_cast<char*>(&_ioc64));
        RtlCopyMemory(pchField, &pum->_pchLimDat, sizeof pum->_pchLimDat);
    }
}
