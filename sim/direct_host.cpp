#include "sim/direct_host.h"

#include "sim/ezusb_board.h"
#include "sim/usb_descriptors.h"

namespace KVdepSim100 {

using usbsim::UsbXfer;

UsbXfer DirectHost::configure()
{
    UsbXfer x = _dev.setConfiguration(bConfigValue);
    return x == UsbXfer::Ok ? _dev.setInterface(bInterface, bAltBoard) : x;
}

UsbXfer DirectHost::holdCpu(bool fHold)
{
    uint8_t b = fHold ? 1 : 0;
    return _dev.vendorOut(bRequestFirmware, addrCpuControl, 0, &b, 1);
}

UsbXfer DirectHost::download(const std::vector<KVdepFw100::FwRecord>& mprec)
{
    UsbXfer x = holdCpu(true);
    for (size_t i = 0; x == UsbXfer::Ok && i < mprec.size() && mprec[i]._addr != KVdepFw100::addrEnd; ++i)
        x = _dev.vendorOut(bRequestFirmware, mprec[i]._addr, 0, mprec[i]._mpbData.data(), mprec[i]._cData);
    return x == UsbXfer::Ok ? holdCpu(false) : x;
}

UsbXfer DirectHost::put(int iChan, const std::vector<uint8_t>& mpbCtrl, const std::vector<uint8_t>& mpbData)
{
    uint8_t bEp = iChan == 0 ? epDown0 : epDown1;
    UsbXfer x = _dev.bulkOut(bEp, mpbCtrl.data(), mpbCtrl.size());
    return x == UsbXfer::Ok ? _dev.bulkOut(bEp, mpbData.data(), mpbData.size()) : x;
}

UsbXfer DirectHost::in(uint8_t bEndpoint, std::vector<uint8_t>* pmpb, size_t cbMax)
{
    pmpb->assign(cbMax, 0);
    size_t cb = 0;
    UsbXfer x = _dev.bulkIn(bEndpoint, pmpb->data(), cbMax, &cb);
    pmpb->resize(x == UsbXfer::Ok ? cb : 0);
    return x;
}

UsbXfer DirectHost::get(int iChan, std::vector<uint8_t>* pmpbData, std::vector<uint8_t>* pmpbCtrl)
{
    uint8_t bEp = iChan == 0 ? epUp0 : epUp1;
    UsbXfer x = in(bEp, pmpbData, 512);
    return x == UsbXfer::Ok ? in(bEp, pmpbCtrl, 128) : x;
}

std::vector<uint8_t> DirectHost::exchange(int iChan, const std::vector<uint8_t>& mpbCtrl,
                                          const std::vector<uint8_t>& mpbData, std::vector<uint8_t>* pmpbDataUp)
{
    std::vector<uint8_t> mpbUp, mpbCtrlUp;
    if (put(iChan, mpbCtrl, mpbData) != UsbXfer::Ok || get(iChan, &mpbUp, &mpbCtrlUp) != UsbXfer::Ok)
        return {};
    if (pmpbDataUp)
        *pmpbDataUp = std::move(mpbUp);
    return mpbCtrlUp;
}

}  // namespace KVdepSim100
