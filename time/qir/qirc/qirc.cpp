// The qir card module's tables and construct hook. Everything here is
// constant-initialised: a host without static constructors (the kernel
// driver) uses the tables as they are and runs the hook itself.
#include "qirc.h"

#include <new>

#include "ezusb_fw.h"
#include "yekpro_qir.h"

using KVdepQir100::Qir_qir_Proto;

namespace {

alignas(Qir_qir_Proto) unsigned char mpQir[24];
static_assert(sizeof(Qir_qir_Proto) <= sizeof(mpQir), "the protocol object fits its storage");

// Written by the hook, so not constant.
YekDriverDesc mpuDd[] = {{2, nullptr}};

}  // namespace

constexpr YekAdaptUsb adUsbQir = {
    {eAdaptUsb, "HIX-5316", "kavor", "", ""}, 0, 0, "ezusb", gid_firmware, gdc_firmware,
    {qir_firmware, nullptr, nullptr, nullptr}};

constexpr const YekAdapt* mppadQir[] = {&adUsbQir._ad, nullptr};

void ctYkQir()
{
    // The object is never destroyed; building it again reuses the storage.
    mpuDd[0]._pup = new (mpQir) Qir_qir_Proto;
}

constexpr YekMod ykQir = {1, 10, nullptr, nullptr, 1, mpuDd, 0, nullptr, ctYkQir, mppadQir};
