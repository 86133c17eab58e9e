// A card module with the drivers qir and vaq on the counter board.
#include "access_world.h"

#include <new>

#include "ezusb_fw.h"
#include "yekpro_qir.h"
#include "yekpro_vaq.h"

namespace e2e_access {

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

}  // namespace

const YekMod ykVaqQir = {1, 10, nullptr, nullptr, 2, mpuDd, 0, nullptr, ctVaqQir, mppadVaqQir};

}  // namespace e2e_access
