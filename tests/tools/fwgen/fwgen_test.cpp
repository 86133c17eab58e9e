#include "fwgen.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using KVdepFw100::FwRecord;

// The record layout of the card tables, to prove the generated files are
// initializers of it.
struct ezusb_hex_record {
    uint16_t _addr;
    uint8_t _cData;
    uint8_t _data[16];
    uint8_t _filler;
};
static_assert(sizeof(ezusb_hex_record) == 20, "record layout");

const ezusb_hex_record qir_firmware[] = {
#include "time/qir/qirc/firmware/qir_firmware.inc"
};
const ezusb_hex_record sio_firmware[] = {
#include "time/qir/qirc/firmware/sio_firmware.inc"
};
const ezusb_hex_record wex_firmware[] = {
#include "time/qir/qirc/firmware/wex_firmware.inc"
};
const ezusb_hex_record gid_firmware[] = {
#include "time/qir/qirc/firmware/gid_firmware.inc"
};
const ezusb_hex_record gdc_firmware[] = {
#include "time/qir/qirc/firmware/gdc_firmware.inc"
};

struct Table {
    const char* szName;
    const ezusb_hex_record* prec;
    size_t c;
    int cRecords;
    int cbData;
};
const Table mptab[] = {
    {"qir_firmware", qir_firmware, std::size(qir_firmware), 791, 5867},
    {"sio_firmware", sio_firmware, std::size(sio_firmware), 615, 4402},
    {"wex_firmware", wex_firmware, std::size(wex_firmware), 670, 4935},
    {"gid_firmware", gid_firmware, std::size(gid_firmware), 115, 673},
    {"gdc_firmware", gdc_firmware, std::size(gdc_firmware), 114, 664},
};

TEST(Fwgen, ImagesKeepTheRecordFormatAndCounts)
{
    ASSERT_EQ(KVdepFw100::fwImages().size(), std::size(mptab));
    for (const Table& t : mptab) {
        SCOPED_TRACE(t.szName);
        std::vector<FwRecord> mprec = KVdepFw100::fwImage(t.szName);
        ASSERT_EQ(static_cast<int>(mprec.size()), t.cRecords);
        EXPECT_EQ(mprec.back()._addr, 0xFFFF);
        EXPECT_EQ(mprec.back()._cData, 0);
        uint32_t addrNext = 0;
        int cb = 0;
        for (size_t i = 0; i + 1 < mprec.size(); ++i) {
            const FwRecord& rec = mprec[i];
            ASSERT_GE(rec._cData, 1);
            ASSERT_LE(rec._cData, 16);
            ASSERT_GE(rec._addr, addrNext) << "record " << i;  // ascending, from 0
            if (i == 0) {
                EXPECT_EQ(rec._addr, 0);
            }
            addrNext = rec._addr + rec._cData;
            EXPECT_LE(addrNext, KVdepFw100::cbWritable);
            for (int k = rec._cData; k < 16; ++k)
                ASSERT_EQ(rec._mpbData[k], 0) << "record " << i;
            cb += rec._cData;
        }
        EXPECT_EQ(cb, t.cbData);
        for (uint8_t b : mprec.back()._mpbData)
            EXPECT_EQ(b, 0);
    }
}

TEST(Fwgen, EveryImageStartsWithItsOwnTag)
{
    std::set<std::string> sgs;
    for (const Table& t : mptab) {
        FwRecord rec = KVdepFw100::fwImage(t.szName).front();
        EXPECT_EQ(rec._mpbData, KVdepFw100::fwTag(t.szName));
        sgs.insert(std::string(rec._mpbData.begin(), rec._mpbData.end()));
    }
    EXPECT_EQ(sgs.size(), std::size(mptab));
    EXPECT_EQ(*sgs.begin(), "KVSTANDIN:gdc:01");
}

TEST(Fwgen, CommittedTablesHoldTheGeneratedRecords)
{
    for (const Table& t : mptab) {
        SCOPED_TRACE(t.szName);
        std::vector<FwRecord> mprec = KVdepFw100::fwImage(t.szName);
        ASSERT_EQ(t.c, mprec.size());
        for (size_t i = 0; i < t.c; ++i) {
            ASSERT_EQ(t.prec[i]._addr, mprec[i]._addr) << i;
            ASSERT_EQ(t.prec[i]._cData, mprec[i]._cData) << i;
            ASSERT_TRUE(std::equal(mprec[i]._mpbData.begin(), mprec[i]._mpbData.end(), t.prec[i]._data)) << i;
            ASSERT_EQ(t.prec[i]._filler, 0);
        }
    }
}

TEST(Fwgen, TextIsOneInitializerALineAfterTheHeader)
{
    std::string sg = KVdepFw100::fwImageText("gid_firmware");
    EXPECT_NE(sg.find("NOT product data"), std::string::npos);
    EXPECT_NE(sg.find("\n{ 0x0000, 16, { 0x4B, 0x56, "), std::string::npos);
    EXPECT_NE(sg.find("\n{ 0xFFFF, 0, { 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, "
                      "0x00, 0x00, 0x00, 0x00, 0x00 }, 0 },\n"),
              std::string::npos);
    EXPECT_EQ(sg, KVdepFw100::fwImageText("gid_firmware"));
    EXPECT_TRUE(KVdepFw100::fwImage("nix_firmware").empty());
    EXPECT_EQ(KVdepFw100::fwImageInfo("nix_firmware"), nullptr);
}

}  // namespace
