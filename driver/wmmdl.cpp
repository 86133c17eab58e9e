// User-buffer mapping and the kernel wire window.
#include "wmmdl.h"

#include "wire.h"
#include "wm_probe.h"

static const char szSrc[] = "wmmdl";

WmMdl& WmMdl::map(PVOID pv, ULONG len, KPROCESSOR_MODE mode, LOCK_OPERATION op)
{
    if (!pv || len == 0)
        return *this;
    unmap();
    _pmdl = IoAllocateMdl(pv, len, FALSE, FALSE, nullptr);
    if (!_pmdl) {
        setFailed(szSrc, __LINE__);
        return *this;
    }
    if (wmProbeAndLock(_pmdl, mode, op) != STATUS_SUCCESS) {
        // The MDL stays allocated, not locked, until unmap.
        setFailed(szSrc, __LINE__);
        return *this;
    }
    _fLocked = 1;
    _pch = static_cast<char*>(MmGetSystemAddressForMdlSafe(_pmdl, NormalPagePriority));
    _cb = MmGetMdlByteCount(_pmdl);
    if (!_pch)
        setFailed(szSrc, __LINE__);
    return *this;
}

WmMdl& WmMdl::mapRecord(const YekMemStruct* pum, KPROCESSOR_MODE mode, LOCK_OPERATION op)
{
    const char* pchBase = pum->_pchBase;
    const char* pchLim = pum->_pchLimBuf;
    if (!pchBase || pchLim == pchBase)
        return *this;  // absent
    if (pchLim < pchBase) {
        setFailed(szSrc, __LINE__);
        return *this;
    }
    size_t cb = static_cast<size_t>(pchLim - pchBase);
    if (cb >= 0x10000) {
        setFailed(szSrc, __LINE__);
        return *this;
    }
    return map(const_cast<char*>(pchBase), static_cast<ULONG>(cb), mode, op);
}

void WmMdl::unmap()
{
    if (_fLocked) {
        MmUnlockPages(_pmdl);
        _fLocked = 0;
    }
    if (_pmdl) {
        IoFreeMdl(_pmdl);
        _pmdl = nullptr;
    }
    _pch = nullptr;
    _cb = 0;
}

WmMdl& WmMdl::copyIn(const void* pv, size_t c, YekMemStruct* pum)
{
    if ((c != 0 && !_pch) || c > _cb) {
        setFailed(szSrc, __LINE__);
        return *this;
    }
    if (c)
        RtlCopyMemory(_pch, pv, c);
    pum->_pchLimDat = pum->_pchBase + c;
    return *this;
}

WmMdl& WmMdl::copyOut(void* pv, size_t cbCap, size_t* pcCopied)
{
    if (_cb > cbCap) {
        setFailed(szSrc, __LINE__);
        return *this;
    }
    if (_cb)
        RtlCopyMemory(pv, _pch, _cb);
    *pcCopied = _cb;
    return *this;
}

WmMdl& WmMdl::require(size_t cbMin)
{
    if (isFail())
        return *this;
    if (!_pch || _cb < cbMin)
        setFailed(szSrc, __LINE__);
    return *this;
}

WmMdl& WmMdl::copyControl(KVdepYek100::YekControlBuf* pucb)
{
    if (isFail())
        return *this;
    if (!_pch || _cb < sizeof(YekControlStruct)) {
        setFailed(szSrc, __LINE__);
        return *this;
    }
    // One read of the caller's bytes; everything after works on the copy,
    // zero-filled behind the control.
    size_t c = _cb < sizeof *pucb ? _cb : sizeof *pucb;
    RtlZeroMemory(pucb->_mpch, sizeof pucb->_mpch);
    RtlCopyMemory(static_cast<void*>(pucb), _pch, c);
    size_t s = pucb->_size;
    if (s < sizeof(YekControlStruct) || s > _cb || s > sizeof *pucb) {
        setFailed(szSrc, __LINE__);
        return *this;
    }
    if (s < c)
        RtlZeroMemory(reinterpret_cast<char*>(pucb) + s, c - s);
    return *this;
}

size_t marshalControl(const KVdepYek100::YekProto* pup, char* pchWire, size_t cbRoom,
                      const KVdepYek100::YekControl* puc, bool* pfOk)
{
    Wirebuf wb(pchWire, cbRoom);
    xostream xo(&wb);
    pup->marshal(xo, puc);
    size_t n = wb.cDone();
    if (pfOk)
        *pfOk = xo.isGood() && n > 0;
    return n;
}

size_t unmarshalControl(const KVdepYek100::YekProto* pup, KVdepYek100::YekControl* puc,
                        const char* pchWire, size_t cb)
{
    Wirebuf wb(const_cast<char*>(pchWire), cb);
    xistream xi(&wb);
    KVdepYek100::xunmarsh(xi, *puc);
    if (!xi.isGood())
        return 0;
    pup->unmarsh(xi, *puc, puc);
    if (!xi.isGood())
        return 0;
    return puc->size();
}
