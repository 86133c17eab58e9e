// The sio card module's tables and construct hook, constant-initialised like
// the qir module's.
#include "sioc.h"

#include <new>

#include "ezusb_fw.h"
#include "yekpro_sio.h"

using KVdepSio100::Sio_sio_Proto;

namespace {

alignas(Sio_sio_Proto) unsigned char mpSio[24];
static_assert(sizeof(Sio_sio_Proto) <= sizeof(mpSio), "the protocol object fits its storage");

// Written by the hook, so not constant.
YekDriverDesc mpuDd[] = {{2, nullptr}};

}  // namespace

constexpr YekAdaptUsb adUsbSio = {
    {eAdaptUsb, "PYL-2817", "kavor", "", ""}, 0, 0, "ezusb", gid_firmware, gdc_firmware,
    {sio_firmware, nullptr, nullptr, nullptr}};

constexpr YekAdaptUsb adUsbWex = {
    {eAdaptUsb, "VUZ-2958", "kavor", "", ""}, 0, 0, "ezusb", gid_firmware, gdc_firmware,
    {wex_firmware, nullptr, nullptr, nullptr}};

constexpr const YekAdapt* mppadSio[] = {&adUsbSio._ad, &adUsbWex._ad, nullptr};

void ctYkSio()
{
    // The object is never destroyed; building it again reuses the storage.
    mpuDd[0]._pup = new (mpSio) Sio_sio_Proto;
}

constexpr YekMod ykSio = {1, 10, nullptr, nullptr, 1, mpuDd, 0, nullptr, ctYkSio, mppadSio};
