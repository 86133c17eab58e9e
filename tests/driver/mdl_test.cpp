// User-buffer mapping and the kernel wire window: what a caller's records can
// and cannot make the driver touch, and the marshalling through the window.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "kv_kernel.h"
#include "wire.h"
#include "wmmdl.h"
#include "yekpro_qir.h"

namespace {

class MdlTest : public ::testing::Test {
protected:
    ~MdlTest() override { EXPECT_EQ(k.mdlsOutstanding(), 0u); }
    kstub::Kernel k;
    alignas(8) char buf[0x11000] = {};
};

YekMemStruct rec(char* base, ptrdiff_t cbBuf)
{
    return YekMemStruct{base + cbBuf, base, base};
}

TEST_F(MdlTest, RecordsAreAbsentRefusedOrMappedWithoutTouchingWhatIsRefused)
{
    struct Case {
        const char* what;
        YekMemStruct um;
        bool fGood;
        ULONG cbMapped;
        bool fProbed;
    } cases[] = {
        {"null base, big limit: absent", YekMemStruct{buf + 0x20000, nullptr, nullptr}, true, 0, false},
        {"empty buffer: absent", rec(buf, 0), true, 0, false},
        {"limit below base", rec(buf + 100, -50), false, 0, false},
        {"0x10000 bytes", rec(buf, 0x10000), false, 0, false},
        {"0xFFFF bytes", rec(buf, 0xFFFF), true, 0xFFFF, true},
        {"null page", rec(reinterpret_cast<char*>(0x10), 16), false, 0, true},
        {"kernel half", rec(reinterpret_cast<char*>(0xFFFFFFFF80001000ull), 16), false, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::size_t cProbes = k.memory().probes();
        WmMdl m;
        m.mapRecord(&c.um, UserMode, IoReadAccess);
        EXPECT_EQ(m.isGood(), c.fGood);
        EXPECT_EQ(m.cb(), c.cbMapped);
        EXPECT_EQ(k.memory().probes() > cProbes, c.fProbed);
        if (!c.fGood) {
            EXPECT_STREQ(m.szErr(), "wmmdl");
        }
        m.unmap();
        EXPECT_EQ(k.mdlsOutstanding(), 0u) << "a failed probe's MDL is freed without unlocking";
    }
}

TEST_F(MdlTest, EachStepCanFailAndLeavesNothingBehindAfterUnmap)
{
    struct Case {
        kstub::Fault fault;
        LOCK_OPERATION op;
    } cases[] = {
        {kstub::Fault::AllocateMdl, IoReadAccess},
        {kstub::Fault::ProbeAndLockPages, IoModifyAccess},
        {kstub::Fault::MapLockedPages, IoModifyAccess},
    };
    int mpLine[3];
    int i = 0;
    for (const Case& c : cases) {
        k.failNext(c.fault);
        WmMdl m;
        m.map(buf, 64, UserMode, c.op);
        EXPECT_FALSE(m.isGood());
        mpLine[i++] = m.iErr();
    }
    EXPECT_NE(mpLine[0], mpLine[1]);
    EXPECT_NE(mpLine[1], mpLine[2]);
    // A write mapping of read-only memory fails at the probe; a read one maps.
    k.memory().readOnly(buf, 64);
    WmMdl mw, mr;
    EXPECT_FALSE(mw.map(buf, 64, UserMode, IoModifyAccess).isGood());
    EXPECT_TRUE(mr.map(buf, 64, UserMode, IoReadAccess).isGood());
    EXPECT_EQ(mr.pch(), buf);
}

TEST_F(MdlTest, StatusStaysThroughUnmapAndNullMapsUntilReset)
{
    WmMdl m;
    YekMemStruct bad = rec(buf, 0x10000);
    m.mapRecord(&bad, UserMode, IoReadAccess);
    m.unmap();
    EXPECT_FALSE(m.isGood());
    m.map(nullptr, 0, UserMode, IoReadAccess);
    EXPECT_FALSE(m.isGood());
    m.reset();
    EXPECT_TRUE(m.map(buf, 8, UserMode, IoReadAccess).isGood());
}

TEST_F(MdlTest, CopyOutAndCopyInKeepToTheMappedBytes)
{
    char mpch[2048];
    size_t c = 99;
    WmMdl mNone;
    EXPECT_TRUE(mNone.copyOut(mpch, sizeof mpch, &c).isGood());
    EXPECT_EQ(c, 0u) << "nothing mapped reads as zero bytes";

    std::memset(buf, 'a', 2049);
    WmMdl m;
    m.map(buf, 2049, UserMode, IoReadAccess);
    std::memset(mpch, 0, sizeof mpch);
    c = 99;
    EXPECT_FALSE(m.copyOut(mpch, sizeof mpch, &c).isGood());
    EXPECT_EQ(c, 99u);
    EXPECT_EQ(mpch[0], 0) << "nothing copied";

    WmMdl mi;
    YekMemStruct um = rec(buf, 16);
    mi.mapRecord(&um, UserMode, IoModifyAccess);
    EXPECT_FALSE(mi.copyIn("0123456789abcdefg", 17, &um).isGood());
    EXPECT_EQ(um._pchLimDat, buf) << "the record stays";
    mi.reset();
    EXPECT_TRUE(mi.copyIn("0123", 4, &um).isGood());
    EXPECT_EQ(um._pchLimDat, buf + 4);
    EXPECT_EQ(std::memcmp(buf, "0123", 4), 0);
    WmMdl mEmpty;
    EXPECT_FALSE(mEmpty.copyIn("x", 1, &um).isGood());
}

TEST_F(MdlTest, ControlDownIsCopiedOnceAndMustHoldItsOwnSize)
{
    struct Case {
        const char* what;
        uint32_t uSize;
        ULONG cbRecord;
        bool fGood;
    } cases[] = {
        {"the whole control", 16, 16, true},
        {"record longer than the control", 16, 40, true},
        {"shorter than a header", 16, 7, false},
        {"shorter than its size", 16, 12, false},
        {"size below a header", 4, 16, false},
        {"size past a control buffer", 200, 300, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::memset(buf, 0x5A, 300);
        YekControlStruct hdr{c.uSize, 8};
        std::memcpy(buf, &hdr, sizeof hdr);
        WmMdl m;
        m.map(buf, c.cbRecord, UserMode, IoReadAccess);
        KVdepYek100::YekControlBuf ucb;
        EXPECT_EQ(m.copyControl(&ucb).isGood(), c.fGood);
        if (c.fGood) {
            EXPECT_EQ(ucb._size, c.uSize);
            EXPECT_EQ(ucb._mpch[c.uSize - 8], 0) << "zero behind the control";
            EXPECT_EQ(ucb._mpch[c.uSize - 9], 0x5A);
        }
    }
    WmMdl mNone;
    KVdepYek100::YekControlBuf ucb;
    EXPECT_FALSE(mNone.copyControl(&ucb).isGood()) << "an absent control down";
}

TEST(Wirebuf, ReadsStopAtTheEndAndWritesPastItAreDropped)
{
    char mpch[3] = {'\x01', '\xFF', 'z'};
    Wirebuf wb(mpch, 2);
    EXPECT_EQ(wb.sgetc(), 1);
    EXPECT_EQ(wb.sbumpc(), 1);
    EXPECT_EQ(wb.sbumpc(), 0xFF);
    EXPECT_EQ(wb.sgetc(), -1);
    EXPECT_EQ(wb.sbumpc(), -1);
    EXPECT_EQ(wb.cDone(), 2u);

    char out[3] = {0, 0, 'z'};
    Wirebuf wo(out, 2);
    for (char c : {'a', 'b', 'c'})
        wo.sputc(c);
    EXPECT_EQ(wo.cDone(), 2u);
    EXPECT_EQ(std::string(out, 3), "abz");
}

TEST(ControlMarshalling, ThroughTheWindowWithTheProtocol)
{
    KVdepQir100::Qir_qir_Proto qir;
    KVdepQir100::QirWrite w;
    w.iPort(3);
    w.iVal(0x1234);
    char mpch[128];
    bool fOk = false;
    ASSERT_EQ(marshalControl(&qir, mpch, sizeof mpch, &w, &fOk), 4u);
    EXPECT_TRUE(fOk);
    EXPECT_EQ(std::string(mpch, 4), std::string("\x08\x03\x12\x34", 4));
    EXPECT_EQ(marshalControl(&qir, mpch, 2, &w, &fOk), 2u) << "cut to the room";

    KVdepYek100::YekControl unknown(3, sizeof(KVdepYek100::YekControl));
    marshalControl(&qir, mpch, sizeof mpch, &unknown, &fOk);
    EXPECT_FALSE(fOk) << "a type the protocol does not know";

    const char resp[] = "\x0C\x00\x00\x00\x00\x00\x00\x12\x34\x00\x00\x00\x07";
    KVdepYek100::YekControlBuf ucb;
    EXPECT_EQ(unmarshalControl(&qir, &ucb, resp, 13), sizeof(KVdepQir100::QirResp));
    EXPECT_EQ(KVdepQir100::pQirResp(&ucb)->iErr(), 0x1234u);
    EXPECT_EQ(unmarshalControl(&qir, &ucb, resp, 0), 0u);
    EXPECT_EQ(unmarshalControl(&qir, &ucb, resp, 12), 0u) << "one byte short";
    EXPECT_EQ(unmarshalControl(&qir, &ucb, "\x0F\x00", 2), 0u) << "unknown type";
}

}  // namespace
