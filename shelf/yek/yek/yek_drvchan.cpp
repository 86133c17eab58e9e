// Opening a channel of the kernel driver and its control requests.
#include "yek_drvchan.h"

#include <cstdio>
#include <cstring>

namespace KVdepYek100 {

BOOL drvIoctl(HANDLE h, DWORD dwCode, YekIoc* pioc)
{
    DWORD cb = 0;
    return DeviceIoControl(h, dwCode, pioc, sizeof(YekIoc), pioc, sizeof(YekIoc), &cb, nullptr);
}

YekMemStruct drvDownRecord(const char* pchBase, size_t c)
{
    // The driver only reads the down records: the const_cast hands over the
    // caller's constant bytes without copying them.
    char* pch = const_cast<char*>(pchBase);
    return YekMemStruct{pch + c, pch + c, pch};
}

YekMemStruct drvAnswerRecord(const char* pchBase, const YekMemStruct& duReturned)
{
    return YekMemStruct{nullptr, duReturned._pchLimDat, const_cast<char*>(pchBase)};
}

void closeDrvChannel(HANDLE h)
{
    if (h != nullptr && h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
}

DrvChanOpen openDrvChannel(const YekProto* pup, const char* szDev, const char* szChan)
{
    char szPath[cchDrvChanPath];
    int cch = -1;
    if (pup && pup->szName() && szDev && szChan)
        cch = std::snprintf(szPath, sizeof szPath, szYekChanPathFmt, szDev, pup->szName(), szChan);
    if (cch < 0 || static_cast<size_t>(cch) >= sizeof szPath) {
        // A path that does not fit is not cut short: that would open another device.
        return {INVALID_HANDLE_VALUE, "can't open",
                cch < 0 ? ERROR_INVALID_PARAMETER : ERROR_FILENAME_EXCED_RANGE};
    }

    HANDLE h = CreateFileA(szPath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return {h, "can't open", static_cast<int>(GetLastError())};

    // The signature with its terminating zero is the down data of the check.
    YekIoc ioc{};
    ioc._dd = drvDownRecord(pup->szProto(), std::strlen(pup->szProto()) + 1);
    if (!drvIoctl(h, IOCTL_YEK_PROCHK, &ioc))
        return {h, "DeviceIoControl(prochk) failed", static_cast<int>(GetLastError())};
    return {h, nullptr, 0};
}

}  // namespace KVdepYek100
