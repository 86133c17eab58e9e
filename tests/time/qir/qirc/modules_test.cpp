// The card module tables as a host reads them.
#include "ezusb_fw.h"
#include "qirc.h"
#include "sioc.h"
#include "yek_c.h"
#include "yekpro_qir.h"
#include "yekpro_sio.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A host's driver lookup: the first descriptor whose protocol's short name
// begins with the three letters asked for. A descriptor without protocol
// (hook not yet run) matches nothing.
const YekDriverDesc* findDriver(const YekMod& um, const char* szName)
{
    for (unsigned i = 0; const YekDriverDesc* pdd = YekMod_getDriverDesc(&um, i); ++i)
        if (pdd->_pup && std::strncmp(pdd->_pup->szName(), szName, 3) == 0)
            return pdd;
    return nullptr;
}

std::vector<const YekAdaptUsb*> adapters(const YekMod& um)
{
    std::vector<const YekAdaptUsb*> v;
    for (const YekAdapt* const* ppad = um._mppad; *ppad; ++ppad) {
        EXPECT_EQ((*ppad)->_eClass, 'u');
        v.push_back(reinterpret_cast<const YekAdaptUsb*>(*ppad));
    }
    return v;
}

struct ModuleTest : ::testing::Test {
    void SetUp() override
    {
        ctYkQir();
        ctYkSio();
    }
};

TEST_F(ModuleTest, DescriptorsOfBothModules)
{
    struct Case {
        const YekMod* pum;
        YekPFct pFct;
        const YekAdapt* const* mppad;
    } cases[] = {{&ykQir, ctYkQir, mppadQir}, {&ykSio, ctYkSio, mppadSio}};
    for (const Case& c : cases) {
        const YekMod& um = *c.pum;
        EXPECT_EQ(um._cChan, 1);
        EXPECT_EQ(um._tps, 10);
        EXPECT_EQ(um._pFnew_YekCard, nullptr);
        EXPECT_EQ(um._pFgetMem_YekCard, nullptr);
        EXPECT_EQ(um._cDriver, 1u);
        EXPECT_EQ(um._sAlloc, 0u);
        EXPECT_EQ(um._pFnewYekCardEx, nullptr);
        EXPECT_EQ(um._pFct, c.pFct);
        EXPECT_EQ(um._mppad, c.mppad);
        EXPECT_EQ(YekMod_getDriverDesc(&um, 1), nullptr);
    }
}

TEST_F(ModuleTest, DriverLookupByProtocolName)
{
    const YekDriverDesc* pdd = findDriver(ykQir, "qir");
    ASSERT_NE(pdd, nullptr);
    EXPECT_EQ(pdd, YekMod_getDriverDesc(&ykQir, 0));
    // The channel limit is the driver's, not the module's.
    EXPECT_EQ(pdd->_cChan, 2u);
    EXPECT_NE(dynamic_cast<const KVdepQir100::Qir_qir_Proto*>(pdd->_pup), nullptr);
    EXPECT_EQ(findDriver(ykQir, "sio"), nullptr);
    EXPECT_EQ(findDriver(ykQir, "vaq"), nullptr);

    pdd = findDriver(ykSio, "sio");
    ASSERT_NE(pdd, nullptr);
    EXPECT_EQ(pdd->_cChan, 2u);
    EXPECT_STREQ(pdd->_pup->szName(), "sio");
    EXPECT_NE(dynamic_cast<const KVdepSio100::Sio_sio_Proto*>(pdd->_pup), nullptr);
    EXPECT_EQ(findDriver(ykSio, "qir"), nullptr);

    // The protocol check of an open channel: a vaq client passes both drivers,
    // a qir client only the qir driver.
    KVdepQir100::Qir_qir_Proto qir;
    EXPECT_EQ(YekProto_match(findDriver(ykQir, "qir")->_pup, qir.szProto(), 0), 1);
    EXPECT_EQ(YekProto_match(pdd->_pup, qir.szProto(), 0), 0);
    EXPECT_EQ(YekProto_match(pdd->_pup, "(//)(//)(/Int4:u_int,Int4:u_int,Int4:u_int/)", 0), 1);
}

TEST_F(ModuleTest, AdapterLists)
{
    struct Want {
        const char* szName;
        const ezusb_hex_record* pfw;
    };
    struct Case {
        const YekMod* pum;
        std::vector<Want> want;
    } cases[] = {
        {&ykQir, {{"HIX-5316", qir_firmware}}},
        {&ykSio, {{"PYL-2817", sio_firmware}, {"VUZ-2958", wex_firmware}}},
    };
    for (const Case& c : cases) {
        std::vector<const YekAdaptUsb*> v = adapters(*c.pum);
        ASSERT_EQ(v.size(), c.want.size());
        for (size_t k = 0; k < v.size(); ++k) {
            const YekAdaptUsb& ad = *v[k];
            EXPECT_STREQ(ad._ad._szAdaptName, c.want[k].szName);
            EXPECT_STREQ(ad._ad._szOrg, "kavor");
            ASSERT_NE(ad._ad._szArch, nullptr);
            ASSERT_NE(ad._ad._szLic, nullptr);
            EXPECT_STREQ(ad._ad._szArch, "");
            EXPECT_STREQ(ad._ad._szLic, "");
            EXPECT_EQ(ad._uVid, 0u);
            EXPECT_EQ(ad._uPid, 0u);
            EXPECT_STREQ(ad._szMcuType, "ezusb");
            EXPECT_EQ(ad._pfwIdle, gid_firmware);
            EXPECT_EQ(ad._pfwDiscon, gdc_firmware);
            EXPECT_EQ(ad._mppfw[0], c.want[k].pfw);
            // Only driver 0 can be opened.
            EXPECT_EQ(ad._mppfw[1], nullptr);
            EXPECT_EQ(ad._mppfw[2], nullptr);
            EXPECT_EQ(ad._mppfw[3], nullptr);
            EXPECT_EQ(getRegionBySize(&ad._ad, 64), nullptr);
        }
    }
    EXPECT_EQ(mppadQir[0], &adUsbQir._ad);
    EXPECT_EQ(mppadSio[1], &adUsbWex._ad);
}

// What a download does with an image: every record up to the end record.
struct Walk {
    size_t cData = 0;  // data records visited
    size_t cb = 0;     // data bytes sent
};

Walk walk(const ezusb_hex_record* prec, size_t cRecMax)
{
    Walk w;
    for (size_t k = 0; k < cRecMax && prec[k]._addr != addrEzusbEnd; ++k) {
        ++w.cData;
        w.cb += prec[k]._cData;
    }
    return w;
}

TEST(Firmware, WalkingTheQirImageVisits790DataRecords)
{
    Walk w = walk(qir_firmware, cRecQirFirmware);
    EXPECT_EQ(w.cData, 790u);
    EXPECT_EQ(w.cb, 5867u);
    const ezusb_hex_record& recEnd = qir_firmware[790];
    EXPECT_EQ(recEnd._addr, 0xFFFF);
    EXPECT_EQ(recEnd._cData, 0);
}

TEST(Firmware, EveryImageIsWellFormed)
{
    struct Case {
        const char* szName;
        const ezusb_hex_record* prec;
        size_t cRec;
        size_t cb;
    } cases[] = {
        {"qir", qir_firmware, 791, 5867}, {"sio", sio_firmware, 615, 4402}, {"wex", wex_firmware, 670, 4935},
        {"gid", gid_firmware, 115, 673},  {"gdc", gdc_firmware, 114, 664},
    };
    const size_t cRecDeclared[] = {cRecQirFirmware, cRecSioFirmware, cRecWexFirmware, cRecGidFirmware, cRecGdcFirmware};
    for (size_t i = 0; i < 5; ++i) {
        const Case& c = cases[i];
        EXPECT_EQ(cRecDeclared[i], c.cRec) << c.szName;
        Walk w = walk(c.prec, c.cRec);
        EXPECT_EQ(w.cData + 1, c.cRec) << c.szName << ": the end record is the last";
        EXPECT_EQ(w.cb, c.cb) << c.szName;
        EXPECT_EQ(c.prec[0]._addr, 0) << c.szName;

        // Ascending and not overlapping, counts 1 to 16, zero padding, and
        // clear of the controller's CPU control byte at 0xE600.
        uint32_t addrNext = 0;
        for (size_t k = 0; k < c.cRec; ++k) {
            const ezusb_hex_record& rec = c.prec[k];
            bool fEnd = k + 1 == c.cRec;
            SCOPED_TRACE(std::string(c.szName) + " record " + std::to_string(k));
            EXPECT_EQ(rec.filler, 0);
            if (fEnd) {
                EXPECT_EQ(rec._addr, 0xFFFF);
                EXPECT_EQ(rec._cData, 0);
            } else {
                EXPECT_GE(rec._cData, 1);
                EXPECT_LE(rec._cData, 16);
                EXPECT_GE(rec._addr, addrNext);
                addrNext = rec._addr + rec._cData;
                EXPECT_LE(addrNext, 0xE600u);
            }
            for (size_t b = fEnd ? 0 : rec._cData; b < cbEzusbRecordData; ++b)
                EXPECT_EQ(rec._data[b], 0) << "byte " << b;
            if (::testing::Test::HasFailure())
                break;
        }
    }
}

TEST(Firmware, ImagesDifferInTheirFirstRecord)
{
    // A simulated controller tells the programs apart by what was written.
    const ezusb_hex_record* mpprec[] = {qir_firmware, sio_firmware, wex_firmware, gid_firmware, gdc_firmware};
    for (size_t i = 0; i < 5; ++i)
        for (size_t j = i + 1; j < 5; ++j)
            EXPECT_NE(std::memcmp(mpprec[i], mpprec[j], sizeof(ezusb_hex_record)), 0) << i << " " << j;
}

}  // namespace
