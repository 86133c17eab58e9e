// The device channel over the Win32 device calls.
#include "yek_devio.h"

#include <cstdio>
#include <cstring>

#include "fexassert.h"
#include "yek_devif.h"

namespace KVdepYek100 {

static const char szSrc[] = "uc_d";

namespace {

// The block of one request: every record not set stays zero, so the driver
// never sees an uninitialised pointer.
BOOL ioctl(HANDLE h, DWORD dwCode, YekIoc* pioc)
{
    DWORD cb = 0;
    return DeviceIoControl(h, dwCode, pioc, sizeof(YekIoc), pioc, sizeof(YekIoc), &cb, nullptr);
}

YekMemStruct record(const char* pchBase, size_t c)
{
    // The driver only reads the down records: the const_cast hands over the
    // caller's constant bytes without copying them.
    char* pch = const_cast<char*>(pchBase);
    return YekMemStruct{pch + c, pch + c, pch};
}

}  // namespace

YekChanDevio::YekChanDevio(const YekProto* pup, const char* szDev, const char* szChan)
    : YekChanUser(pup), _h(nullptr)
{
    char szPath[cchPath];
    int cch = -1;
    if (szDev && szChan && pup->szName())
        cch = std::snprintf(szPath, sizeof szPath, szYekChanPathFmt, szDev, pup->szName(), szChan);
    if (cch < 0 || static_cast<size_t>(cch) >= sizeof szPath) {
        // A path that does not fit is not cut short: that would open another device.
        _h = INVALID_HANDLE_VALUE;
        setBad("can't open", cch < 0 ? ERROR_INVALID_PARAMETER : ERROR_FILENAME_EXCED_RANGE, nullptr);
        return;
    }

    _h = CreateFileA(szPath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (_h == INVALID_HANDLE_VALUE) {
        setBad("can't open", static_cast<int>(GetLastError()), nullptr);
        return;
    }

    // The signature with its terminating zero is the down data of the check.
    YekIoc ioc{};
    ioc._dd = record(pup->szProto(), std::strlen(pup->szProto()) + 1);
    if (!ioctl(_h, IOCTL_YEK_PROCHK, &ioc)) {
        setBad("DeviceIoControl(prochk) failed", static_cast<int>(GetLastError()), nullptr);
        return;
    }
    setupRecv();
}

YekChanDevio::~YekChanDevio()
{
    if (isOpen())
        CloseHandle(_h);
}

Failables& YekChanDevio::sigSendTransfer()
{
    FEX_ASSERT(pub(), "pub()", szSrc, 169);
    if (!isGood())
        return *this;
    YekIoc ioc{};
    ioc._cd = pub()->puc()->yk();
    ioc._dd = record(pub()->pchBase(), pub()->cDone());
    if (!ioctl(_h, IOCTL_YEK_PUT, &ioc))
        setBad("DeviceIoControl(put) failed", static_cast<int>(GetLastError()), nullptr);
    return *this;
}

Failables& YekChanDevio::sigRecvTransfer()
{
    FEX_ASSERT(pdb(), "pdb()", szSrc, 190);
    if (!isGood())
        return *this;
    YekIoc ioc{};
    ioc._cu = pdb()->ykBuf();
    ioc._du = YekData(pdb()->pchBase(), pdb()->cMax());
    if (!ioctl(_h, IOCTL_YEK_GET, &ioc)) {
        setBad("DeviceIoControl(get) failed", static_cast<int>(GetLastError()), nullptr);
        return *this;
    }
    // The count is measured against the buffer's own base, and setSize keeps
    // it inside the 512-byte data area whatever the driver wrote back.
    YekMemStruct m{nullptr, ioc._du._pchLimDat, pdb()->pchBase()};
    pdb()->setSize(m);
    return *this;
}

}  // namespace KVdepYek100
