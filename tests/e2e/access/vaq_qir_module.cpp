// The card module of a driver module built for the vaq tests: the drivers qir
// and vaq, two channels each, on the counter board's operating firmware, so
// that vaq channels open. It is compiled into that module (a kernel build).
#include <new>

#include "ezusb_fw.h"
#include "wm.h"
#include "yekpro_qir.h"
#include "yekpro_vaq.h"

namespace {

alignas(KVdepQir100::Qir_qir_Proto) unsigned char mpQir[sizeof(KVdepQir100::Qir_qir_Proto)];
alignas(KVdepVaq100::Vaq_vaq_Proto) unsigned char mpVaq[sizeof(KVdepVaq100::Vaq_vaq_Proto)];

YekDriverDesc mpuDd[] = {{2, nullptr}, {2, nullptr}};

void ctVaqQir()
{
    mpuDd[0]._pup = new (mpQir) KVdepQir100::Qir_qir_Proto;
    mpuDd[1]._pup = new (mpVaq) KVdepVaq100::Vaq_vaq_Proto;
}

constexpr YekAdaptUsb adVaqQir = {{eAdaptUsb, "HIX-5316", "kavor", "", ""}, 0, 0, "ezusb", gid_firmware,
                                  gdc_firmware, {qir_firmware, qir_firmware, nullptr, nullptr}};
constexpr const YekAdapt* mppadVaqQir[] = {&adVaqQir._ad, nullptr};

const YekMod ykVaqQir = {1, 10, nullptr, nullptr, 2, mpuDd, 0, nullptr, ctVaqQir, mppadVaqQir};

}  // namespace

const YekMod* wmCarriedModule()
{
    return &ykVaqQir;
}
