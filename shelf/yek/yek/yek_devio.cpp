// The device channel over the Win32 device calls.
#include "yek_devio.h"

#include "fexassert.h"
#include "yek_drvchan.h"

namespace KVdepYek100 {

static const char szSrc[] = "uc_d";

YekChanDevio::YekChanDevio(const YekProto* pup, const char* szDev, const char* szChan)
    : YekChanUser(pup), _h(nullptr)
{
    const DrvChanOpen o = openDrvChannel(pup, szDev, szChan);
    _h = o.h;
    if (o.szErr) {
        setBad(o.szErr, o.iErr, nullptr);
        return;
    }
    setupRecv();
}

YekChanDevio::~YekChanDevio()
{
    closeDrvChannel(_h);
}

Failables& YekChanDevio::sigSendTransfer()
{
    FEX_ASSERT(pub(), "pub()", szSrc, 169);
    if (!isGood())
        return *this;
    YekIoc ioc{};
    ioc._cd = pub()->puc()->yk();
    ioc._dd = drvDownRecord(pub()->pchBase(), pub()->cDone());
    if (!drvIoctl(_h, IOCTL_YEK_PUT, &ioc))
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
    if (!drvIoctl(_h, IOCTL_YEK_GET, &ioc)) {
        setBad("DeviceIoControl(get) failed", static_cast<int>(GetLastError()), nullptr);
        return *this;
    }
    // setSize keeps the count inside the 512-byte data area whatever the
    // driver wrote back.
    pdb()->setSize(drvAnswerRecord(pdb()->pchBase(), ioc._du));
    return *this;
}

}  // namespace KVdepYek100
