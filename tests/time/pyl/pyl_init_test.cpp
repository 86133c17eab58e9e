// The digital-I/O initializer through a small driver of the device interface
// that plays a digital-I/O board: the model check, the failures of the open,
// and whole syncs over the device channel with the pump.
#include "dap.h"
#include "devio_testdrv.h"
#include "sio_board.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace KVdepDev100;
using namespace devio_test;
using KVdepDino100::DinoPlexSync;
using KVdepYek100::RunIo;

namespace {

const char szDev[] = "\\\\.\\ZEDOZ_EVU_0";

std::string text(const Failables& fa)
{
    std::ostringstream os;
    os << fa;
    return os.str();
}

std::string text(const Failable& fa)
{
    std::ostringstream os;
    os << fa;
    return os.str();
}

// The board: VaqInit with its identity, SioWrite stored, SioRead of port 0
// with the inputs.
struct PylInitTest : ::testing::Test {
    kstub::Kernel k;
    TestBoardDriver& drv = TestBoardDriver::the();
    std::string sgIdent = sio_test::SioInprocBoard::sgPyl2817;
    uint32_t eErrOpen = 0;
    uint16_t uInputs = 0;
    std::vector<uint32_t> vuWrites;

    PylInitTest()
    {
        drv.reset({DrvProto{"sio", KVdepSio100::theSio_sio_Proto.szProto()}});
        EXPECT_EQ(k.loadDriver(DriverEntry, "devtest"), STATUS_SUCCESS);
        k.pnp().createPdo(kstub::PdoProps{});
        drv.setOnPut([this](const Msg& m) {
            KVdepYek100::YekControlBuf ucb;
            std::memcpy(static_cast<void*>(&ucb), m.sgCtrl.data(), std::min(m.sgCtrl.size(), sizeof ucb));
            switch (m.eType()) {
            case KVdepVaq100::eVaqInit:
                drv.answer(m.iChan, KVdepVaq100::VaqResp().eErr(eErrOpen), sgIdent);
                break;
            case KVdepSio100::eSioWrite:
                vuWrites.push_back(KVdepSio100::pSioWrite(&ucb)->iVal());
                drv.answer(m.iChan, KVdepSio100::SioResp());
                break;
            case KVdepSio100::eSioRead:
                drv.answer(m.iChan, KVdepSio100::SioResp().fStat(uInputs));
                break;
            }
        });
    }
    ~PylInitTest() override { k.unloadDriver("devtest"); }
};

TEST_F(PylInitTest, OpensChecksAndServesTheBoard)
{
    {
        PylLocalInitializer ini(szDev);
        ASSERT_TRUE(ini.isGood()) << text(ini);
        EXPECT_EQ(drv.opens(), std::vector<std::string>{"\\sio\\0"});
        ASSERT_NE(ini.ptm(), nullptr);
        EXPECT_EQ(ini.puc()->pux(), ini.ptm()) << "the device channel is the multiplexer's";

        RunIo rio;
        rio.add(ini.puc());
        DinoPlexSync dps(&rio);
        EXPECT_EQ(ini.initDinoUser("board", &dps), 0);
        EXPECT_EQ(ini.initDinoUser("again", &dps), -1) << "the client end is registered already";

        KVdepDino100::BitHandle bhO12 = dps.callOpen("board/O12");
        KVdepDino100::BitHandle bhI09 = dps.callOpen("board/I09");
        EXPECT_EQ(bhO12, 0x00020020);
        dps.setBit(bhO12);
        uInputs = 0x8000;
        EXPECT_EQ(dps.callSync(), 0) << text(dps);
        EXPECT_EQ(vuWrites, std::vector<uint32_t>{0x2000});
        EXPECT_TRUE(dps.getBit(bhI09));
        EXPECT_EQ(dps.callSync(), 0);
        EXPECT_EQ(vuWrites.size(), 2u);
        EXPECT_EQ(k.openHandles(), 1u);
    }
    EXPECT_EQ(k.openHandles(), 0u);
}

TEST_F(PylInitTest, FailuresOfTheOpen)
{
    struct Row {
        const char* szWhat;
        const char* szDev;
        std::string sgIdent;
        uint32_t eErrOpen;
        const char* szStatus;
    };
    const Row mp[] = {
        {"no board", "\\\\.\\ZEDOZ_EVU_3", sio_test::SioInprocBoard::sgPyl2817, 0, "stat=fail (can't open) 2"},
        {"counter board", szDev, std::string("\x00\xb4\x04\x16\x53\x00\x00", 7), 0,
         "stat=fail (device model not supported) 21270, stat=good () 0"},
        {"refused open exchange", szDev, sio_test::SioInprocBoard::sgPyl2817, 5,
         "stat=fail (dap) 15, stat=fail (vaq) 215, stat=fail (request failed) 5"},
        {"identity too short for a model", szDev, std::string("\x00\xb4\x04\x17\x28", 5), 0,
         "stat=fail (device model not supported) -1, stat=good () 0"},
        {"no identity", szDev, "", 0, "stat=fail (device model not supported) -1, stat=good () 0"},
    };
    for (const Row& r : mp) {
        SCOPED_TRACE(r.szWhat);
        sgIdent = r.sgIdent;
        eErrOpen = r.eErrOpen;
        {
            PylLocalInitializer ini(r.szDev);
            EXPECT_EQ(text(ini), r.szStatus);
            EXPECT_EQ(ini.ptm(), nullptr) << "no multiplexer is built";
            EXPECT_NE(ini.puc(), nullptr);
            RunIo rio;
            DinoPlexSync dps(&rio);
            EXPECT_EQ(ini.initDinoUser("board", &dps), -1);
        }
        EXPECT_EQ(k.openHandles(), 0u);
    }
}

TEST_F(PylInitTest, HandedOverChannel)
{
    {
        PylLocalInitializer ini(new KVdepYek100::YekChanDevio(&KVdepSio100::theSio_sio_Proto, szDev, "0"));
        EXPECT_TRUE(ini.isGood()) << text(ini);
        EXPECT_NE(ini.ptm(), nullptr);
    }
    // A channel that did not open is reported, not run.
    PylLocalInitializer ini(new KVdepYek100::YekChanDevio(&KVdepSio100::theSio_sio_Proto, "\\\\.\\ZEDOZ_EVU_7", "0"));
    EXPECT_EQ(text(ini), "stat=fail (can't open) 2");
    EXPECT_EQ(ini.ptm(), nullptr);
}

TEST_F(PylInitTest, BoardThatGoesAwayDuringASync)
{
    PylLocalInitializer ini(szDev);
    ASSERT_TRUE(ini.isGood()) << text(ini);
    RunIo rio;
    rio.add(ini.puc());
    DinoPlexSync dps(&rio);
    ini.initDinoUser("board", &dps);
    KVdepDino100::BitHandle bhO01 = dps.callOpen("board/O01");
    EXPECT_EQ(dps.callSync(), 0);

    drv.failNext(IOCTL_YEK_GET, STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(dps.callSync(), -1);
    EXPECT_EQ(text(dps), "stat=bad (DeviceIoControl(get) failed) 1167");
    // Later calls fail too, and nothing stops on the exchange that was cut.
    dps.setBit(bhO01);
    EXPECT_EQ(dps.callSync(), -1);
    EXPECT_EQ(dps.callSync(), -1);
    EXPECT_EQ(dps.callOpen("board/O02"), 0);
}

// A sync on a pump that does not carry the device channel yet is cut; the
// server's request for it must not answer a later sync in its place.
TEST_F(PylInitTest, CutSyncLeavesNoAnswerForTheNextOne)
{
    PylLocalInitializer ini(szDev);
    ASSERT_TRUE(ini.isGood()) << text(ini);
    RunIo rio;
    DinoPlexSync dps(&rio);
    ini.initDinoUser("board", &dps);
    KVdepDino100::BitHandle bhO01 = dps.callOpen("board/O01");
    ASSERT_NE(bhO01, KVdepDino100::bhNil) << text(dps);

    uInputs = 0x1111;
    EXPECT_EQ(dps.callSync(), -1);
    EXPECT_EQ(text(dps), "stat=fail (exchange not finished) 0");

    // The device channel registered late: every sync from now on gives the
    // inputs of its own time and writes its own outputs last.
    rio.add(ini.puc());
    const uint16_t mpuIn[] = {0x2222, 0x3333, 0x4444};
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(k);
        uInputs = mpuIn[k];
        dps.setBit(bhO01, k % 2 == 0);
        EXPECT_EQ(dps.callSync(), 0) << text(dps);
        const unsigned char* pb = dps.pbi(0)->_mpucIn;
        EXPECT_EQ(pb[0], mpuIn[k] & 0xFF);
        EXPECT_EQ(pb[3], mpuIn[k] >> 8);
        ASSERT_FALSE(vuWrites.empty());
        EXPECT_EQ(vuWrites.back(), k % 2 == 0 ? 1u : 0u);
    }
}

}  // namespace
