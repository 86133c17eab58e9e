// Request dispatch: which channel names open, the protocol check, the shape
// of the control block, the records that are refused before anything moves,
// and the read of the identification text.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>

#include "drv_support.h"
#include "qirc.h"
#include "wmslot.h"
#include "wmusb.h"
#include "yekpro_qir.h"

namespace {

using drvtest::Bufs;
using drvtest::DriverTest;

class DispatchTest : public DriverTest {
protected:
    void SetUp() override
    {
        world.setDebug(fWmDebugDefault | fWmReq);
        plugAndLoad();
    }
    std::string signature() { return ykQir._puDd[0]._pup->szProto(); }
};

TEST_F(DispatchTest, ChannelNamesOpenOnlyAsTheDeviceInterfaceSays)
{
    struct Case {
        const char* rest;
        NTSTATUS st;
        const char* line;  // logged, or null
    } cases[] = {
        {"\\qir\\0", STATUS_SUCCESS, "kqir0: kwmCreate(12, \\qir\\0)"},
        {"\\qir\\0", STATUS_NO_SUCH_DEVICE, "kqir0: can't open qir\\0"},
        {"\\qir/1", STATUS_SUCCESS, "kqir0: driver 0 (qir) chan 1"},
        {"\\qir\\2", STATUS_NO_SUCH_DEVICE, "kqir0: can't open qir\\2"},
        {"\\qir\\x", STATUS_NO_SUCH_DEVICE, "kqir0: driver 0 (qir) chan 72"},
        {"\\qir\\/", STATUS_NO_SUCH_DEVICE, "kqir0: driver 0 (qir) chan -1"},
        {"\\qir\\00", STATUS_NO_SUCH_DEVICE, "kqir0: kwmCreate(14, \\qir\\00)"},
        {"\\qi\\0", STATUS_NO_SUCH_DEVICE, nullptr},
        {"\\vaq\\0", STATUS_NO_SUCH_DEVICE, "kqir0: no driver for vaq\\0"},
        {"\\sio\\0", STATUS_NO_SUCH_DEVICE, "kqir0: no driver for sio\\0"},
        {"", STATUS_NO_SUCH_DEVICE, "kqir0: kwmCreate(0, )"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rest);
        log().clear();
        HANDLE h = nullptr;
        EXPECT_EQ(open(&h, c.rest), c.st);
        if (c.line) {
            EXPECT_TRUE(logHas(c.line)) << log().text();
        }
    }
    EXPECT_FALSE(logHas("no driver for")) << "a name of the wrong length is refused first";
}

TEST_F(DispatchTest, OpenLogsTheChannelAndTheFileObject)
{
    HANDLE h = openOk("\\qir\\1");
    PFILE_OBJECT pfo = kstub::io::fileObject(h);
    ASSERT_NE(pfo, nullptr);
    EXPECT_TRUE(logHas(kstub::formatString("kqir0: open: chan 0 1 @ %p", pfo)));
    close(h);
    EXPECT_TRUE(logHas(kstub::formatString("kqir0: close chan @ %p", pfo)));
    EXPECT_TRUE(logHas(kstub::formatString("kqir0: cleanup chan, irp=%p", nullptr)));
}

TEST_F(DispatchTest, ProtocolCheckAcceptsAPrefixOfTheOpenDriversSignatureOnly)
{
    HANDLE h = openOk();
    pdev->clearUrbLog();
    std::string sg = signature();
    ASSERT_GT(sg.size(), 3u);
    struct Case {
        const char* what;
        std::string sig;
        int cbRaw;  // >= 0: that many bytes of the signature buffer, as they are
        NTSTATUS st;
        const char* line;
    } cases[] = {
        {"the signature", sg, -1, STATUS_SUCCESS, nullptr},
        {"a prefix", sg.substr(0, 3), -1, STATUS_SUCCESS, nullptr},
        {"only the zero", "", -1, STATUS_SUCCESS, nullptr},
        {"one character more", sg + "x", -1, STATUS_INSUFFICIENT_RESOURCES, "kqir0: protocol error"},
        {"another character", "x" + sg.substr(1), -1, STATUS_INSUFFICIENT_RESOURCES, "kqir0: protocol error"},
        {"no zero at the end", "", 3, STATUS_INSUFFICIENT_RESOURCES, "kqir0: protocol error"},
        {"nothing", "", 0, STATUS_INSUFFICIENT_RESOURCES, "kqir0: protocol error"},
        {"2049 bytes", "", 2049, STATUS_INSUFFICIENT_RESOURCES, "kqir0: copyOut failed"},
        {"2048 bytes", "", 2048, STATUS_INSUFFICIENT_RESOURCES, "kqir0: protocol error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        log().clear();
        Bufs b;
        std::memset(b.sig, 'q', sizeof b.sig);
        YekIoc& ioc = c.cbRaw >= 0 ? b.prochkBytes(size_t(c.cbRaw)) : b.prochk(c.sig);
        EXPECT_EQ(ioctl(h, IOCTL_YEK_PROCHK, ioc), c.st);
        if (c.line)
            EXPECT_TRUE(logHas(c.line)) << log().text();
        else
            EXPECT_FALSE(logHas("protocol error"));
    }
    EXPECT_TRUE(pdev->urbLog().empty()) << "nothing is sent to the board";
    EXPECT_TRUE(logHas("kqir0: protocol check"));
    EXPECT_TRUE(logHas("kqir0: csa:2048"));
    EXPECT_TRUE(logHas("kqir0: user protocol size:2048"));
}

TEST_F(DispatchTest, BlockOfTheWrongShapeIsRefusedBeforeTheChannelIsTouched)
{
    HANDLE h = openOk();
    Bufs b;
    std::vector<char> w = drvtest::qirWrite(3, 1);
    YekIoc& ioc = b.xch(w.data(), w.size());
    YekIoc other = ioc;
    struct Case {
        const char* what;
        void* pvIn;
        ULONG cbIn;
        void* pvOut;
        ULONG cbOut;
    } cases[] = {
        {"pointers differ", &ioc, 96, &other, 96},
        {"lengths differ", &ioc, 96, &ioc, 48},
        {"95 bytes", &ioc, 95, &ioc, 95},
        {"97 bytes", &ioc, 97, &ioc, 97},
        {"0 bytes", &ioc, 0, &ioc, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        log().clear();
        EXPECT_EQ(kstub::io::ioctl(h, IOCTL_YEK_XCH, c.pvIn, c.cbIn, c.pvOut, c.cbOut), STATUS_NO_SUCH_DEVICE);
        EXPECT_TRUE(logHas("kqir0: ioctl argument error, expected size=96\n"));
        EXPECT_FALSE(logHas("startIrp"));
    }
    EXPECT_EQ(ioctl(h, IOCTL_YEK_XCH, ioc), STATUS_SUCCESS);
    EXPECT_TRUE(logHas("kqir0: kwmIoctl(22200f, drv=0 chan=0, puIn="));
    EXPECT_TRUE(logHas("kqir0: startIrp"));
    EXPECT_TRUE(logHas("kqir0: done"));
}

TEST_F(DispatchTest, RecordsThatCannotBeMappedAreRefusedAndTheNextRequestSucceeds)
{
    HANDLE h = openOk();
    std::vector<char> w = drvtest::qirWrite(3, 1);
    char* pchBad = reinterpret_cast<char*>(0x20);
    struct Case {
        const char* what;
        void (*spoil)(Bufs& b, char* pchBad);
        const char* line;
    } cases[] = {
        {"no control down", [](Bufs& b, char*) { b.ioc._cd = YekMemStruct{}; }, "can't map control down (wmmdl, "},
        {"control down shorter than its size",
         [](Bufs& b, char*) { b.ioc._cd._pchLimBuf = b.ioc._cd._pchBase + 10; }, "can't map control down (wmmdl, "},
        {"control down of 0x10000 bytes",
         [](Bufs& b, char*) { b.ioc._cd._pchLimBuf = b.ioc._cd._pchBase + 0x10000; }, "can't map control down (wmmdl, "},
        {"data down below its base",
         [](Bufs& b, char*) { b.ioc._dd = YekMemStruct{b.dataDown, b.dataDown, b.dataDown + 8}; }, "can't map data down (wmmdl, "},
        {"data down not in the process",
         [](Bufs& b, char* p) { b.ioc._dd = YekMemStruct{p + 16, p, p}; }, "can't map data down (wmmdl, "},
        {"control up of 127 bytes",
         [](Bufs& b, char*) { b.ioc._cu._pchLimBuf = b.ioc._cu._pchBase + 127; }, "can't map control up (wmmdl, "},
        {"no control up", [](Bufs& b, char*) { b.ioc._cu = YekMemStruct{}; }, "can't map control up (wmmdl, "},
        {"data up not in the process",
         [](Bufs& b, char* p) { b.ioc._du = YekMemStruct{p + 512, p, p}; }, "can't map data up (wmmdl, "},
    };
    // The detach records the line of the refusing site: one a record.
    const Chan& chan = static_cast<CardUsb*>(static_cast<Card*>(fdo()->DeviceExtension))->_mpChan[0];
    std::map<std::string, std::set<ULONG>> mpTraces;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        log().clear();
        pdev->clearUrbLog();
        Bufs b;
        b.xch(w.data(), w.size());
        c.spoil(b, pchBad);
        EXPECT_EQ(ioctl(h, IOCTL_YEK_XCH, b.ioc), STATUS_INSUFFICIENT_RESOURCES);
        mpTraces[c.line].insert(chan._uTrace);
        EXPECT_TRUE(logHas(std::string("kqir0: ") + c.line)) << log().text();
        EXPECT_TRUE(bulk().empty()) << "nothing is sent";
        EXPECT_EQ(k().mdlsOutstanding(), 0u);
        Bufs good;
        EXPECT_EQ(ioctl(h, IOCTL_YEK_XCH, good.xch(w.data(), w.size())), STATUS_SUCCESS)
            << "one failed mapping does not fail the next request";
    }
    // The block itself.
    log().clear();
    EXPECT_EQ(kstub::io::ioctl(h, IOCTL_YEK_XCH, pchBad, 96, pchBad, 96), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_TRUE(logHas("kqir0: can't map ioctl argument (wmmdl, "));
    mpTraces["ioctl argument"].insert(chan._uTrace);
    std::set<ULONG> traces;
    for (const auto& t : mpTraces) {
        EXPECT_EQ(t.second.size(), 1u) << t.first;
        traces.insert(t.second.begin(), t.second.end());
    }
    EXPECT_EQ(traces.size(), 5u) << "one refusing site a record and the block";
    EXPECT_EQ(kstub::io::ioctl(h, IOCTL_YEK_XCH, nullptr, 96, nullptr, 96), STATUS_INSUFFICIENT_RESOURCES);
}

TEST_F(DispatchTest, PutWithoutDataMapsOnlyTheControlAndSendsAZeroLengthTransfer)
{
    HANDLE h = openOk();
    pdev->clearUrbLog();
    Bufs b;
    std::vector<char> w = drvtest::qirWrite(3, 1);
    b.put(w.data(), w.size());
    b.ioc._dd = YekMemStruct{b.dataDown + 100, nullptr, nullptr};
    std::size_t cProbes = k().memory().probes();
    ASSERT_EQ(ioctl(h, IOCTL_YEK_PUT, b.ioc), STATUS_SUCCESS);
    EXPECT_EQ(k().memory().probes() - cProbes, 2u) << "the block and the control";
    auto x = bulk();
    ASSERT_EQ(x.size(), 2u);
    EXPECT_EQ(x[1].cbRequested, 0u);
}

TEST_F(DispatchTest, ReadReturnsTheTextEverySecondTimeAndNeverPastTheBuffer)
{
    HANDLE h = openOk();
    std::string sgText = std::string("did=kqir vers=") + wmDriver()->_szVers + " id=" +
                         kstub::narrow(std::u16string(wmCardSlots()[0]._wszKey)) +
                         " name=HIX-5316 org=kavor arch=\n";
    std::vector<char> buf(2048, 'x');
    struct Step {
        ULONG cb;
        size_t cbGot;
    } steps[] = {{1023, 0}, {1024, sgText.size()}, {1024, 0}, {1023, 0}, {2048, sgText.size()}};
    for (const Step& s : steps) {
        ULONG_PTR info = 99;
        ASSERT_EQ(kstub::io::read(h, buf.data(), s.cb, &info), STATUS_SUCCESS);
        EXPECT_EQ(info, s.cbGot) << s.cb;
        if (s.cbGot) {
            EXPECT_EQ(std::string(buf.data(), info), sgText);
        }
    }
    EXPECT_TRUE(logHas("kqir0: kwmRead(1023)"));
    HANDLE h1 = openOk("\\qir\\1");
    ULONG_PTR info = 0;
    ASSERT_EQ(kstub::io::read(h1, buf.data(), 1024, &info), STATUS_SUCCESS);
    EXPECT_EQ(info, sgText.size()) << "each channel has its own toggle";
}

}  // namespace
