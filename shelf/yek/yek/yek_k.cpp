// The kernel call, its factory and the "kernel" implementation.
#include "yek_call.h"

#include <cstdlib>
// _strdup (here the Win32 stand-in declares it with its windows.h)
#include <string.h>

#include "yek_drvchan.h"

namespace KVdepYek100 {

namespace {

YekMemStruct dataRecord(const YekData* pud)
{
    return pud ? static_cast<YekMemStruct>(*pud) : YekMemStruct{nullptr, nullptr, nullptr};
}

// The answer's byte count, kept inside the caller's area.
void takeCount(YekData* pud, const YekMemStruct& duReturned)
{
    if (pud)
        pud->setSize(drvAnswerRecord(pud->_pchBase, duReturned));
}

// A request without its control is refused before anything is sent.
bool refuseNoControl(Failables* pfa, bool fHasControl, const char* szErr)
{
    if (fHasControl)
        return false;
    pfa->setFailed(szErr, ERROR_INVALID_PARAMETER);
    return true;
}

}  // namespace

YekKernel::YekKernel(const YekProto* pup, const char* szDev, const char* szChan) : YekCall(pup), _h(nullptr)
{
    const DrvChanOpen o = openDrvChannel(pup, szDev, szChan);
    _h = o.h;
    if (o.szErr)
        setFailed(o.szErr, o.iErr);
}

YekKernel::~YekKernel()
{
    closeDrvChannel(_h);
}

Failables& YekKernel::putMsg(const YekControl* puc, const YekData* pud)
{
    static const char szErr[] = "DeviceIoControl(put) failed";
    if (!isGood() || refuseNoControl(this, puc, szErr))
        return *this;
    YekIoc ioc{};
    ioc._cd = puc->yk();
    ioc._dd = dataRecord(pud);
    if (!drvIoctl(_h, IOCTL_YEK_PUT, &ioc))
        setFailed(szErr, static_cast<int>(GetLastError()));
    return *this;
}

// The receiving record spans the size the buffer's header announces: a caller
// that reuses a buffer resets its header first.
Failables& YekKernel::getMsg(YekControlBuf* puc, YekData* pud)
{
    static const char szErr[] = "DeviceIoControl(get) failed";
    if (!isGood() || refuseNoControl(this, puc, szErr))
        return *this;
    YekIoc ioc{};
    ioc._cu = puc->yk();
    ioc._du = dataRecord(pud);
    if (!drvIoctl(_h, IOCTL_YEK_GET, &ioc)) {
        setFailed(szErr, static_cast<int>(GetLastError()));
        return *this;
    }
    takeCount(pud, ioc._du);
    return *this;
}

Failables& YekKernel::xchMsg(const YekControl* pucd, const YekData* pudd, YekControlBuf* pucu, YekData* pudu)
{
    static const char szErr[] = "DeviceIoControl(xch) failed";
    if (!isGood() || refuseNoControl(this, pucd && pucu, szErr))
        return *this;
    YekIoc ioc{};
    ioc._cd = pucd->yk();
    ioc._dd = dataRecord(pudd);
    ioc._cu = pucu->yk();
    ioc._du = dataRecord(pudu);
    if (!drvIoctl(_h, IOCTL_YEK_XCH, &ioc)) {
        setFailed(szErr, static_cast<int>(GetLastError()));
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
