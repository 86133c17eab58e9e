#include "test_modules.h"

#include <new>

#include "ezusb_fw.h"
#include "yekpro_qir.h"
#include "yekpro_vaq.h"

namespace drvtest {

namespace {

// A protocol of the core types only, for drivers that never carry a message.
class NameProto : public KVdepYek100::YekProto {
public:
    explicit NameProto(const char* szName) : YekProto("test", szName) {}
};

alignas(KVdepQir100::Qir_qir_Proto) unsigned char mpQir[sizeof(KVdepQir100::Qir_qir_Proto)];
alignas(KVdepVaq100::Vaq_vaq_Proto) unsigned char mpVaq[sizeof(KVdepVaq100::Vaq_vaq_Proto)];
alignas(NameProto) unsigned char mpName[4][sizeof(NameProto)];
const char* const mpszName[4] = {"ta1", "ta2", "ta3", "ta4"};

YekDriverDesc mpuDdTwo[] = {{2, nullptr}, {2, nullptr}};
YekDriverDesc mpuDdWide[] = {{3, nullptr}, {2, nullptr}, {2, nullptr}, {2, nullptr}, {2, nullptr}};
YekDriverDesc mpuDdOne[] = {{2, nullptr}};

const KVdepYek100::YekProto* qirProto()
{
    return new (mpQir) KVdepQir100::Qir_qir_Proto;
}

void ctTwo()
{
    mpuDdTwo[0]._pup = qirProto();
    mpuDdTwo[1]._pup = new (mpVaq) KVdepVaq100::Vaq_vaq_Proto;
}

void ctWide()
{
    mpuDdWide[0]._pup = qirProto();
    for (int i = 0; i < 4; ++i)
        mpuDdWide[i + 1]._pup = new (mpName[i]) NameProto(mpszName[i]);
}

void ctOne()
{
    mpuDdOne[0]._pup = qirProto();
}

const ezusb_hex_record mphrEndOnly[] = {{addrEzusbEnd, 0, {}, 0}};
const ezusb_hex_record mphrCount17[] = {{0x0000, 3, {1, 2, 3}, 0}, {0x0010, 17, {}, 0}, {addrEzusbEnd, 0, {}, 0}};
const ezusb_hex_record mphrPastEnd[] = {{0xFFF8, 16, {}, 0}, {addrEzusbEnd, 0, {}, 0}};

constexpr YekAdaptUsb adTwo = {{eAdaptUsb, "TWO-0002", "kavor", "", ""}, 0, 0, "ezusb", gid_firmware,
                               gdc_firmware, {qir_firmware, qir_firmware, nullptr, nullptr}};
constexpr const YekAdapt* mppadTwo[] = {&adTwo._ad, nullptr};

constexpr YekAdaptUsb adWide = {{eAdaptUsb, "WIDE-0005", "kavor", "", ""}, 0, 0, "ezusb", gid_firmware,
                                gdc_firmware, {qir_firmware, qir_firmware, qir_firmware, qir_firmware}};
constexpr const YekAdapt* mppadWide[] = {&adWide._ad, nullptr};

constexpr YekAdaptUsb adEndOnly = {{eAdaptUsb, "END-ONLY", "kavor", "", ""}, 0, 0, "ezusb", mphrEndOnly,
                                   gdc_firmware, {qir_firmware, nullptr, nullptr, nullptr}};
constexpr YekAdaptUsb adCount17 = {{eAdaptUsb, "COUNT-17", "kavor", "", ""}, 0, 0, "ezusb", gid_firmware,
                                   gdc_firmware, {mphrCount17, nullptr, nullptr, nullptr}};
constexpr YekAdaptUsb adPastEnd = {{eAdaptUsb, "PAST-END", "kavor", "", ""}, 0, 0, "ezusb", gid_firmware,
                                   gdc_firmware, {mphrPastEnd, nullptr, nullptr, nullptr}};
constexpr YekAdaptUsb adZeroLength = {{eAdaptUsb, "ZERO-LEN", "kavor", "", ""}, 0, 0, "ezusb", gid_firmware,
                                      gdc_firmware, {mphrZeroLength, nullptr, nullptr, nullptr}};
constexpr YekAdaptUsb adNoFw = {{eAdaptUsb, "NO-FW", "kavor", "", ""}, 0, 0, "ezusb", gid_firmware,
                                gdc_firmware, {nullptr, nullptr, nullptr, nullptr}};
constexpr const YekAdapt* mppadImages[] = {&adEndOnly._ad, &adCount17._ad, &adPastEnd._ad,
                                           &adZeroLength._ad, &adNoFw._ad, nullptr};

constexpr YekAdaptPci adPci = {{eAdaptPci, "PCI-5920", "kavor", "", ""}, nullptr, {0x10E8, 0x5920}, {0, 0},
                               {{2, 64, 0}, {1, 64, 1}}};
constexpr const YekAdapt* mppadPci[] = {&adPci._ad, nullptr};

}  // namespace

const ezusb_hex_record mphrZeroLength[] = {{0x0100, 0, {}, 0}, {addrEzusbEnd, 0, {}, 0}};

const YekMod ykTwo = {1, 10, nullptr, nullptr, 2, mpuDdTwo, 0, nullptr, ctTwo, mppadTwo};
const YekMod ykWide = {1, 10, nullptr, nullptr, 5, mpuDdWide, 0, nullptr, ctWide, mppadWide};
const YekMod ykImages = {1, 10, nullptr, nullptr, 1, mpuDdOne, 0, nullptr, ctOne, mppadImages};
const YekMod ykPci = {1, 10, nullptr, nullptr, 1, mpuDdOne, 0, nullptr, ctOne, mppadPci};

}  // namespace drvtest
