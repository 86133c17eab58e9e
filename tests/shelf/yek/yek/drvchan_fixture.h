// The fixture of the tests against the small driver of the device interface:
// the stand-in kernel with the driver loaded and one device, helpers that read
// request blocks, and a board that echoes.
#pragma once

#include "devio_testdrv.h"
#include "yek_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace devio_test {

const char szDev[] = "\\\\.\\ZEDOZ_EVU_0";
// The driver's protocol extends the client's.
const std::string sgServerSig = std::string(yek_test::testProto().szProto()) + "(/Int1:u_int/)";

inline bool isZero(const YekMemStruct& m)
{
    return !m._pchBase && !m._pchLimBuf && !m._pchLimDat;
}

inline std::string bytesOf(const KVdepYek100::YekControl& uc)
{
    return std::string(reinterpret_cast<const char*>(&uc), uc.size());
}

struct DrvChanTest : ::testing::Test {
    kstub::Kernel k;
    TestBoardDriver& drv = TestBoardDriver::the();

    DrvChanTest() { load(sgServerSig); }
    ~DrvChanTest() override { k.unloadDriver("devtest"); }

    // A fresh driver and device, for the rows of a table.
    void reload(const std::string& sgSig)
    {
        k.unloadDriver("devtest");
        for (PDEVICE_OBJECT pdo : k.pnp().pdos())
            k.pnp().deletePdo(pdo);
        load(sgSig);
    }

    void load(const std::string& sgSig)
    {
        drv.reset({DrvProto{"tst", sgSig}});
        EXPECT_EQ(k.loadDriver(DriverEntry, "devtest"), STATUS_SUCCESS);
        k.pnp().createPdo(kstub::PdoProps{});
        k.clearIoLog();
    }

    // The board answers every request with id + 1000 and the same data.
    void echo()
    {
        drv.setOnPut([this](const Msg& m) {
            yek_test::TestMsg tm;
            std::memcpy(&tm, m.sgCtrl.data(), std::min(m.sgCtrl.size(), sizeof tm));
            drv.answer(m.iChan, yek_test::TestMsg(tm._id + 1000), m.sgData);
        });
    }
};

}  // namespace devio_test
