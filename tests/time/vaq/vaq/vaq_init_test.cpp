// The initializer of a board's vaq channel through the device channel, over
// a small driver of the device interface in the stand-in kernel.
#include "devio_testdrv.h"
#include "vaq.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace KVdepVaq100;
using namespace devio_test;

namespace {

const char szDev[] = "\\\\.\\ZEDOZ_EVU_0";
const std::string sgIdent("\x00\xb4\x04\x16\x53\x00\x00", 7);

std::string text(const Failables& fa)
{
    std::ostringstream os;
    os << fa;
    return os.str();
}

struct VaqInitTest : ::testing::Test {
    kstub::Kernel k;
    TestBoardDriver& drv = TestBoardDriver::the();
    uint32_t eErr = 0;

    void load(const char* szName, const char* szSig)
    {
        drv.reset({DrvProto{szName, szSig}});
        ASSERT_EQ(k.loadDriver(DriverEntry, "devtest"), STATUS_SUCCESS);
        k.pnp().createPdo(kstub::PdoProps{});
        drv.setOnPut([this](const Msg& m) {
            if (m.eType() == eVaqInit)
                drv.answer(m.iChan, VaqResp().eErr(eErr), sgIdent);
        });
    }
};

TEST_F(VaqInitTest, OpensTheVaqChannelAndThePlexer)
{
    load("vaq", theVaq_vaq_Proto.szProto());
    {
        VaqLocalTaskInitializer ini(szDev);
        EXPECT_TRUE(ini.isGood()) << text(ini);
        ASSERT_NE(ini.pap(), nullptr);
        EXPECT_EQ(ini.pap()->sgIdent(), sgIdent);
        EXPECT_EQ(ini.pap()->eModel(), 0x5316);
        EXPECT_EQ(drv.opens(), std::vector<std::string>{"\\vaq\\0"});
        EXPECT_EQ(k.openHandles(), 1u);
    }
    EXPECT_EQ(k.openHandles(), 0u);
}

TEST_F(VaqInitTest, FailuresKeepTheChannelAndBuildNoPlexer)
{
    struct Row {
        const char* szWhat;
        const char* szDev;
        const char* szDrvName;
        const char* szDrvSig;
        uint32_t eErr;
        ULONG uFailCode;  // a request of this code fails (0: none)
        const char* szStatus;
    };
    const std::string sgOther = "(//)(/Int4:u_int/)";
    const Row mp[] = {
        {"no board", "\\\\.\\ZEDOZ_EVU_5", "vaq", theVaq_vaq_Proto.szProto(), 0, 0,
         "stat=fail (vaq) 227, stat=bad (can't open) 2"},
        {"no vaq driver", szDev, "qir", theVaq_vaq_Proto.szProto(), 0, 0,
         "stat=fail (vaq) 227, stat=bad (can't open) 55"},
        {"other protocol", szDev, "vaq", sgOther.c_str(), 0, 0,
         "stat=fail (vaq) 227, stat=bad (DeviceIoControl(prochk) failed) 1450"},
        {"refused open", szDev, "vaq", theVaq_vaq_Proto.szProto(), 5, 0,
         "stat=fail (VaqPlex open failed) 0, stat=fail (vaq) 215, stat=fail (request failed) 5"},
        {"failed put", szDev, "vaq", theVaq_vaq_Proto.szProto(), 0, IOCTL_YEK_PUT,
         "stat=fail (VaqPlex open failed) 0, stat=bad (exchange failed) 0, "
         "stat=bad (DeviceIoControl(put) failed) 1167"},
        {"failed get", szDev, "vaq", theVaq_vaq_Proto.szProto(), 0, IOCTL_YEK_GET,
         "stat=fail (VaqPlex open failed) 0, stat=bad (exchange failed) 0, "
         "stat=bad (DeviceIoControl(get) failed) 1167"},
    };
    for (const Row& r : mp) {
        SCOPED_TRACE(r.szWhat);
        k.unloadDriver("devtest");
        for (PDEVICE_OBJECT pdo : k.pnp().pdos())
            k.pnp().deletePdo(pdo);
        load(r.szDrvName, r.szDrvSig);
        eErr = r.eErr;
        if (r.uFailCode)
            drv.failNext(r.uFailCode, STATUS_DEVICE_NOT_CONNECTED);
        {
            VaqLocalTaskInitializer ini(r.szDev);
            EXPECT_EQ(text(ini), r.szStatus);
            EXPECT_EQ(ini.pap(), nullptr);
            EXPECT_NE(ini.puc(), nullptr);
        }
        EXPECT_EQ(k.openHandles(), 0u);
    }
}

}  // namespace
