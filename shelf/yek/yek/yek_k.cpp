// The kernel call, its factory and the "kernel" implementation.
#include "yek_call.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kv_crt.h"
#include "yek_devif.h"

namespace KVdepYek100 {

namespace {

BOOL ioctl(HANDLE h, DWORD dwCode, YekIoc* pioc)
{
    DWORD cb = 0;
    return DeviceIoControl(h, dwCode, pioc, sizeof(YekIoc), pioc, sizeof(YekIoc), &cb, nullptr);
}

// The driver only reads the down records: the const_cast hands over the
// caller's constant bytes without copying them.
YekMemStruct record(const char* pchBase, size_t c)
{
    char* pch = const_cast<char*>(pchBase);
    return YekMemStruct{pch + c, pch + c, pch};
}

YekMemStruct dataRecord(const YekData* pud)
{
    return pud ? static_cast<YekMemStruct>(*pud) : YekMemStruct{nullptr, nullptr, nullptr};
}

// The answer's byte count, measured from the caller's own base.
void takeCount(YekData* pud, const YekMemStruct& mReturned)
{
    if (pud)
        pud->setSize(YekMemStruct{nullptr, mReturned._pchLimDat, pud->_pchBase});
}

}  // namespace

YekKernel::YekKernel(const YekProto* pup, const char* szDev, const char* szChan) : YekCall(pup), _h(nullptr)
{
    char szPath[cchPath];
    int cch = -1;
    if (pup && pup->szName() && szDev && szChan)
        cch = std::snprintf(szPath, sizeof szPath, szYekChanPathFmt, szDev, pup->szName(), szChan);
    if (cch < 0 || static_cast<size_t>(cch) >= sizeof szPath) {
        // A path that does not fit is not cut short: that would open another device.
        _h = INVALID_HANDLE_VALUE;
        setFailed("can't open", cch < 0 ? ERROR_INVALID_PARAMETER : ERROR_FILENAME_EXCED_RANGE);
        return;
    }

    _h = CreateFileA(szPath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (_h == INVALID_HANDLE_VALUE) {
        setFailed("can't open", static_cast<int>(GetLastError()));
        return;
    }

    // The signature with its terminating zero is the down data of the check.
    YekIoc ioc{};
    ioc._dd = record(pup->szProto(), std::strlen(pup->szProto()) + 1);
    if (!ioctl(_h, IOCTL_YEK_PROCHK, &ioc))
        setFailed("DeviceIoControl(prochk) failed", static_cast<int>(GetLastError()));
}

YekKernel::~YekKernel()
{
    if (isOpen())
        CloseHandle(_h);
}

Failables& YekKernel::putMsg(const YekControl* puc, const YekData* pud)
{
    if (!isGood())
        return *this;
    YekIoc ioc{};
    ioc._cd = puc->yk();
    ioc._dd = dataRecord(pud);
    if (!ioctl(_h, IOCTL_YEK_PUT, &ioc))
        setFailed("DeviceIoControl(put) failed", static_cast<int>(GetLastError()));
    return *this;
}

// The receive room of a control buffer is its 128 bytes behind the header,
// whatever size the header announces from an earlier answer.
Failables& YekKernel::getMsg(YekControlBuf* puc, YekData* pud)
{
    if (!isGood())
        return *this;
    YekIoc ioc{};
    ioc._cu = puc->ykBuf();
    ioc._du = dataRecord(pud);
    if (!ioctl(_h, IOCTL_YEK_GET, &ioc)) {
        setFailed("DeviceIoControl(get) failed", static_cast<int>(GetLastError()));
        return *this;
    }
    takeCount(pud, ioc._du);
    return *this;
}

Failables& YekKernel::xchMsg(const YekControl* pucd, const YekData* pudd, YekControlBuf* pucu, YekData* pudu)
{
    if (!isGood())
        return *this;
    YekIoc ioc{};
    ioc._cd = pucd->yk();
    ioc._dd = dataRecord(pudd);
    ioc._cu = pucu->ykBuf();
    ioc._du = dataRecord(pudu);
    if (!ioctl(_h, IOCTL_YEK_XCH, &ioc)) {
        setFailed("DeviceIoControl(xch) failed", static_cast<int>(GetLastError()));
        return *this;
    }
    takeCount(pudu, ioc._du);
    return *this;
}

FactoryKernel::FactoryKernel(const char* szPath) : _szPath(_strdup(szPath ? szPath : "")) {}

FactoryKernel::~FactoryKernel()
{
    free(_szPath);
}

Failables FactoryKernel::createYek(YekCall** ppum, const YekProto* pup, int iChan)
{
    const char szChan[2] = {static_cast<char>('0' + iChan), '\0'};
    YekKernel* pyk = new YekKernel(pup, _szPath, szChan);
    if (pyk->isGood()) {
        *ppum = pyk;
        return Failables();
    }
    Failables fa = *pyk;
    delete pyk;
    *ppum = nullptr;
    return fa;
}

FactoryImplementationKernel::FactoryImplementationKernel(Factories* pfa) : FactoryImplementation("kernel")
{
    pfa->registerFactoryImplementation(this);
}

Factory* FactoryImplementationKernel::createFactory(const char* szMode, const char* szArg)
{
    // Only the first character of the whole text is looked at.
    if (!szMode || szMode[0] != 'k')
        return nullptr;
    return new FactoryKernel(szArg);
}

Factories fact;
FactoryImplementationKernel fiKernel(&fact);

}  // namespace KVdepYek100
