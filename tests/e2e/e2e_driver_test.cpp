// A board from user mode: plugged, driven by the driver through the
// plug-and-play manager, opened with CreateFileA, checked, written and read
// with DeviceIoControl, closed and removed.
#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cstdint>
#include <cstring>
#include <windows.h>

#include "kv_kmdf_stub.h"
#include "kv_world.h"
#include "sim/sim_boards.h"
#include "sioc.h"
#include "wm.h"
#include "yek_devif.h"
#include "yekpro_qir.h"
#include "yekpro_sio.h"

namespace {

using KVdepYek100::YekControl;

// One control request as the device channel sends it: the control's own
// bytes down, 128 bytes of control room and 512 of data room up.
struct Exchange {
    alignas(8) char ctrlUp[128] = {};
    char dataUp[512] = {};
    YekIoc ioc = {};

    BOOL run(HANDLE h, const YekControl& uc)
    {
        YekMemStruct cd = uc.yk();
        ioc = YekIoc{};
        ioc._cd = cd;
        ioc._dd = YekMemStruct{cd._pchBase, cd._pchBase, cd._pchBase};  // no data: base equals limits
        ioc._cu = YekMemStruct{ctrlUp + sizeof ctrlUp, ctrlUp, ctrlUp};
        ioc._du = YekMemStruct{dataUp + sizeof dataUp, dataUp, dataUp};
        DWORD cb = 0;
        return DeviceIoControl(h, IOCTL_YEK_XCH, &ioc, sizeof ioc, &ioc, sizeof ioc, &cb, nullptr);
    }
    YekControl* answer() { return reinterpret_cast<YekControl*>(ctrlUp); }
};

BOOL protocolCheck(HANDLE h, const char* szSig)
{
    YekIoc ioc{};
    char* pch = const_cast<char*>(szSig);
    ioc._dd = YekMemStruct{pch + std::strlen(szSig) + 1, pch + std::strlen(szSig) + 1, pch};
    DWORD cb = 0;
    return DeviceIoControl(h, IOCTL_YEK_PROCHK, &ioc, sizeof ioc, &ioc, sizeof ioc, &cb, nullptr);
}

HANDLE openChannel(const char* szPath)
{
    return CreateFileA(szPath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

TEST(EndToEnd, CounterBoardThroughTheDriverModule)
{
    auto board = KVdepSim100::makeHix5316();
    kvworld::World w;
    usbstub::UsbDevice& dev = w.plug(*board);
    ASSERT_EQ(w.loadDriver(KAVORQIR_MODULE), STATUS_SUCCESS);
    EXPECT_EQ(w.kernel().frameworkBinds(), (std::vector<std::string>{"bind 1.15"}));
    EXPECT_EQ(board->runningImage(), "gid_firmware");

    EXPECT_EQ(openChannel("\\\\.\\ZEDOZ_EVU_0\\sio\\0"), INVALID_HANDLE_VALUE) << "the module carries qir only";
    HANDLE h = openChannel("\\\\.\\ZEDOZ_EVU_0\\qir\\0");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(board->runningImage(), "qir_firmware");

    KVdepQir100::Qir_qir_Proto qir;
    EXPECT_TRUE(protocolCheck(h, qir.szProto()));
    EXPECT_FALSE(protocolCheck(h, (std::string(qir.szProto()) + "+").c_str()));

    Exchange x;
    KVdepQir100::QirWrite wr;
    wr.iPort(5);
    wr.iVal(0xBEEF);
    ASSERT_TRUE(x.run(h, wr));
    ASSERT_NE(KVdepQir100::pQirResp(x.answer()), nullptr);
    EXPECT_EQ(board->qir()->reg(5), 0xBEEFu);
    KVdepQir100::QirRead rd;
    rd.iPort(5);
    ASSERT_TRUE(x.run(h, rd));
    ASSERT_NE(KVdepQir100::pQirResp(x.answer()), nullptr);
    EXPECT_EQ(KVdepQir100::pQirResp(x.answer())->iErr(), 0xBEEFu);
    EXPECT_EQ(x.ioc._cu._pchLimDat, x.ctrlUp + sizeof(KVdepQir100::QirResp));

    char text[1024];
    DWORD cbRead = 0;
    ASSERT_TRUE(ReadFile(h, text, sizeof text, &cbRead, nullptr));
    EXPECT_EQ(std::string(text, 9), "did=kqir ");

    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(board->runningImage(), "gid_firmware");

    ASSERT_EQ(w.kernel().pnp().remove(dev.pdo()), STATUS_SUCCESS);
    EXPECT_EQ(w.kernel().findDevice("\\Device\\ZEDOZ_EVU_0"), nullptr);
    EXPECT_TRUE(w.kernel().linkTarget("\\DosDevices\\ZEDOZ_EVU_0").has_value());
    EXPECT_EQ(openChannel("\\\\.\\ZEDOZ_EVU_0\\qir\\0"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));

    kvworld::Report r = w.teardown();
    EXPECT_TRUE(r.clean()) << r.text();
    EXPECT_TRUE(w.kernel().log().contains("kavorqir unload"));
    EXPECT_EQ(w.kernel().frameworkBinds().back(), "unbind 1.15");
}

TEST(EndToEnd, ModuleLoadedTwiceStartsFromFreeSlots)
{
    auto a = KVdepSim100::makeHix5316(1);
    auto b = KVdepSim100::makeHix5316(2);
    kvworld::World w;
    usbstub::UsbDevice& da = w.plug(*a, 0u, u"{k}\\0001");
    ASSERT_EQ(w.loadDriver(KAVORQIR_MODULE), STATUS_SUCCESS);
    w.kernel().unloadDriver(w.service());
    EXPECT_EQ(w.kernel().findDevice("\\Device\\ZEDOZ_EVU_0"), nullptr);
    w.plug(*b, 0u, u"{k}\\0002");
    ASSERT_EQ(w.loadDriver(KAVORQIR_MODULE), STATUS_SUCCESS);
    // The image is loaded afresh: its slots are free again (the new board
    // gets slot 0) and the link of the earlier image is taken over.
    EXPECT_NE(w.kernel().findDevice("\\Device\\ZEDOZ_EVU_0"), nullptr);
    EXPECT_EQ(w.kernel().findDevice("\\Device\\ZEDOZ_EVU_1"), nullptr);
    ASSERT_EQ(w.kernel().pnp().enumerate(da.pdo()), STATUS_SUCCESS);
    EXPECT_NE(w.kernel().findDevice("\\Device\\ZEDOZ_EVU_1"), nullptr);
    kvworld::Report r = w.teardown();
    EXPECT_TRUE(r.clean()) << r.text();
}

// The refusals of the device interface as a user-mode caller sees them
// through the loaded module: the error number and the driver's line.
TEST(EndToEnd, RefusalsOfTheDeviceInterfaceThroughTheDriverModule)
{
    auto board = KVdepSim100::makeHix5316();
    kvworld::World w;
    w.plug(*board);
    ASSERT_EQ(w.loadDriver(KAVORQIR_MODULE), STATUS_SUCCESS);
    const auto& log = w.kernel().log();

    struct BadName {
        const char* szPath;
        const char* szLine;  // null: refused without a line
    } mpbn[] = {
        {"\\\\.\\ZEDOZ_EVU_0\\qix\\0", "kqir0: no driver for qix\\0"},
        {"\\\\.\\ZEDOZ_EVU_0\\qir\\2", "kqir0: can't open qir\\2"},
        {"\\\\.\\ZEDOZ_EVU_0\\qir\\00", nullptr},
        {"\\\\.\\ZEDOZ_EVU_0\\qir", nullptr},
    };
    for (const BadName& bn : mpbn) {
        SCOPED_TRACE(bn.szPath);
        EXPECT_EQ(openChannel(bn.szPath), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_DEV_NOT_EXIST));
        if (bn.szLine) {
            EXPECT_TRUE(log.contains(bn.szLine));
        }
    }

    HANDLE h = openChannel("\\\\.\\ZEDOZ_EVU_0\\qir\\0");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(openChannel("\\\\.\\ZEDOZ_EVU_0\\qir\\0"), INVALID_HANDLE_VALUE) << "the channel is busy";
    EXPECT_EQ(GetLastError(), DWORD(ERROR_DEV_NOT_EXIST));
    EXPECT_TRUE(log.contains("kqir0: can't open qir\\0"));

    // A block of the wrong shape never reaches the channel.
    KVdepQir100::QirWrite wr;
    wr.iPort(3);
    wr.iVal(0x1234);
    Exchange x;
    ASSERT_TRUE(x.run(h, wr));
    YekIoc iocOther = x.ioc;
    DWORD cb = 0;
    struct Shape {
        const char* szWhat;
        void* pvOut;
        DWORD cbIn, cbOut;
    } mpsh[] = {
        {"two blocks", &iocOther, sizeof x.ioc, sizeof x.ioc},
        {"lengths differ", &x.ioc, sizeof x.ioc, 48},
        {"95 bytes", &x.ioc, 95, 95},
    };
    for (const Shape& sh : mpsh) {
        SCOPED_TRACE(sh.szWhat);
        EXPECT_FALSE(DeviceIoControl(h, IOCTL_YEK_XCH, &x.ioc, sh.cbIn, sh.pvOut, sh.cbOut, &cb, nullptr));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_DEV_NOT_EXIST));
    }
    EXPECT_TRUE(log.contains("kqir0: ioctl argument error, expected size=96"));

    // A control-down record shorter than its control is a mapping failure,
    // and the next request of the channel is served again.
    YekIoc iocShort = x.ioc;
    iocShort._cd._pchLimBuf = iocShort._cd._pchBase + 1;
    iocShort._cd._pchLimDat = iocShort._cd._pchLimBuf;
    EXPECT_FALSE(DeviceIoControl(h, IOCTL_YEK_XCH, &iocShort, sizeof iocShort, &iocShort, sizeof iocShort, &cb,
                                 nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_SYSTEM_RESOURCES));
    EXPECT_TRUE(log.contains("kqir0: can't map control down (wmmdl, "));
    wr.iVal(0x4321);
    ASSERT_TRUE(x.run(h, wr));
    EXPECT_EQ(board->qir()->reg(3), 0x4321u);

    // A 32-bit caller: its buffers lie below 2 GiB and move the same bytes.
    void* pv = mmap(nullptr, 0x2000, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    ASSERT_NE(pv, MAP_FAILED);
    char* pch = static_cast<char*>(pv);
    auto lo = [](const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); };
    char* pcd = pch;
    char* pcu = pch + 0x100;
    char* pdu = pch + 0x200;
    auto* mpu = reinterpret_cast<uint32_t*>(pch + 0x1000);
    KVdepQir100::QirRead rd;
    rd.iPort(3);
    const YekMemStruct cd = rd.yk();
    const size_t cbCd = static_cast<size_t>(cd._pchLimBuf - cd._pchBase);
    std::memcpy(pcd, cd._pchBase, cbCd);
    const uint32_t mpuIn[12] = {lo(pcd + cbCd), lo(pcd + cbCd), lo(pcd), lo(pcd), lo(pcd), lo(pcd),
                                lo(pcu + 128),  lo(pcu),        lo(pcu), lo(pdu + 512), lo(pdu), lo(pdu)};
    std::memcpy(mpu, mpuIn, sizeof mpuIn);
    ASSERT_TRUE(DeviceIoControl(h, IOCTL_YEK_XCH, mpu, 48, mpu, 48, &cb, nullptr));
    auto* presp = KVdepQir100::pQirResp(reinterpret_cast<YekControl*>(pcu));
    ASSERT_NE(presp, nullptr);
    EXPECT_EQ(presp->iErr(), 0x4321u);
    EXPECT_EQ(mpu[7], lo(pcu + sizeof(KVdepQir100::QirResp))) << "the data limits come back as 32-bit values";
    EXPECT_EQ(mpu[10], lo(pdu));

    // An address at or above 2 GiB is no address of a 32-bit caller.
    mpu[11] = 0x80000000u;
    mpu[9] = 0x80000200u;
    EXPECT_FALSE(DeviceIoControl(h, IOCTL_YEK_XCH, mpu, 48, mpu, 48, &cb, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_SYSTEM_RESOURCES));
    EXPECT_TRUE(log.contains("kqir0: can't map data up (wmmdl, "));
    munmap(pv, 0x2000);

    EXPECT_TRUE(CloseHandle(h));
    kvworld::Report r = w.teardown();
    EXPECT_TRUE(r.clean()) << r.text();
}

TEST(EndToEnd, DigitalIoBoardThroughTheDriverWithTheSioModule)
{
    auto board = KVdepSim100::makePyl2817();
    wmImageLoad();
    wmSetCardModule(&ykSio);
    {
        kvworld::World w;
        usbstub::UsbDevice& dev = w.plug(*board);
        ASSERT_EQ(w.loadDriver(FxDriverEntry), STATUS_SUCCESS);
        EXPECT_EQ(board->runningImage(), "gid_firmware");
        EXPECT_EQ(openChannel("\\\\.\\ZEDOZ_EVU_0\\qir\\0"), INVALID_HANDLE_VALUE);
        HANDLE h = openChannel("\\\\.\\ZEDOZ_EVU_0\\sio\\0");
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(board->runningImage(), "sio_firmware");

        KVdepSio100::Sio_sio_Proto sio;
        EXPECT_TRUE(protocolCheck(h, sio.szProto()));

        Exchange x;
        KVdepSio100::SioWrite wr;
        wr.iPort(0);
        wr.iVal(0x0A05);
        ASSERT_TRUE(x.run(h, wr));
        ASSERT_NE(KVdepSio100::pSioResp(x.answer()), nullptr);
        EXPECT_EQ(board->sio()->outputs(), 0x0A05);
        board->setSioInputs(0xF0A5);
        KVdepSio100::SioRead rd;
        rd.iPort(0);
        ASSERT_TRUE(x.run(h, rd));
        ASSERT_NE(KVdepSio100::pSioResp(x.answer()), nullptr);
        EXPECT_EQ(KVdepSio100::pSioResp(x.answer())->fStat(), 0xF0A5u);

        EXPECT_TRUE(CloseHandle(h));
        EXPECT_EQ(board->runningImage(), "gid_firmware");
        ASSERT_EQ(w.kernel().pnp().remove(dev.pdo()), STATUS_SUCCESS);
        EXPECT_EQ(w.kernel().findDevice("\\Device\\ZEDOZ_EVU_0"), nullptr);
        EXPECT_EQ(openChannel("\\\\.\\ZEDOZ_EVU_0\\sio\\0"), INVALID_HANDLE_VALUE);
        kvworld::Report r = w.teardown();
        EXPECT_TRUE(r.clean()) << r.text();
    }
    wmSetCardModule(nullptr);
}

}  // namespace
