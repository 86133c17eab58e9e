// The driver's frame: entry and unload, the "Debug" value, the two log line
// forms and their classes, and the assertion that stops the system.
#include <gtest/gtest.h>

#include <csignal>
#include <optional>

#include "drv_support.h"
#include "fexassert.h"
#include "wm.h"

namespace {

using drvtest::DriverTest;

class FrameTest : public DriverTest {};

TEST_F(FrameTest, EntryAndUnloadPrintTheirLinesAndBindTheFrameworkOnce)
{
    ASSERT_EQ(loadDriver(), STATUS_SUCCESS);
    EXPECT_EQ(log().records().front(), "kavorqir load\n");
    PDRIVER_OBJECT drv = k().driverObject("kavorqir");
    ASSERT_NE(drv, nullptr);
    EXPECT_NE(drv->DriverExtension->AddDevice, nullptr);
    EXPECT_NE(drv->MajorFunction[IRP_MJ_PNP], drv->MajorFunction[IRP_MJ_WRITE]) << "write keeps the default";
    finish();
    EXPECT_EQ(log().records().back(), "kavorqir unload\n");
    EXPECT_EQ(k().frameworkBinds(), (std::vector<std::string>{"bind 1.15", "unbind 1.15"}));
}

TEST(FrameEntry, DebugValueSetsTheMaskAndTheEntryLinesFollowTheNewMask)
{
    struct Case {
        const char* what;
        std::optional<kstub::RegValue> value;
        ULONG fMask;
        bool fEntryLines;
    } cases[] = {
        {"no value", std::nullopt, 0x303, false},
        {"0x303", kstub::RegValue::dword("Debug", 0x303), 0x303, true},
        {"0", kstub::RegValue::dword("Debug", 0), 0, false},
        {"0x2 (no error class)", kstub::RegValue::dword("Debug", 0x2), 0x2, false},
        {"5 bytes", kstub::RegValue::bytes("Debug", REG_BINARY, {1, 0, 0, 0, 0}), 0x303, false},
        {"1 byte: the high bytes are 0", kstub::RegValue::bytes("Debug", REG_BINARY, {0x05}), 0x5, true},
        {"type not examined", kstub::RegValue::bytes("Debug", REG_SZ, {0x41, 0, 0, 0}), 0x41, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        wmImageLoad();
        kvworld::World w;
        if (c.value)
            w.setServiceValue(*c.value);
        ASSERT_EQ(w.loadDriver(FxDriverEntry), STATUS_SUCCESS);
        ASSERT_NE(wmDriver(), nullptr);
        EXPECT_EQ(wmDriver()->_fDebug, c.fMask);
        kstub::Log& lg = w.kernel().log();
        EXPECT_EQ(lg.contains("kqir: entry version=(1.0.0  "), c.fEntryLines);
        EXPECT_EQ(lg.contains(kstub::formatString("kqir: debug=%x", unsigned(c.fMask))), c.fEntryLines);
        EXPECT_TRUE(lg.contains("kavorqir load"));
        w.teardown();
        EXPECT_TRUE(lg.contains("kavorqir unload"));
    }
}

TEST_F(FrameTest, VersionTextIsNumberTwoBlanksIsoTimeAndOneBlank)
{
    ASSERT_EQ(loadDriver(), STATUS_SUCCESS);
    std::string sg = wmDriver()->_szVers;
    ASSERT_EQ(sg.size(), std::string("1.0.0  2025-01-01T00:00:00+00:00 ").size()) << sg;
    EXPECT_EQ(sg.substr(0, 7), "1.0.0  ");
    EXPECT_EQ(sg.substr(17, 1), "T");
    EXPECT_EQ(sg.substr(26), "+00:00 ");
}

TEST_F(FrameTest, ModuleAndBoardLinesCarryTheirPrefixesAndOnlyTheirClasses)
{
    world.setDebug(fWmErr | fWmFlow);
    plugAndLoad();
    EXPECT_TRUE(log().contains("kqir: kwmAddDevice\n"));
    EXPECT_TRUE(log().contains("kqir0: ctCard\n"));
    EXPECT_FALSE(log().contains("Device index")) << "class 0x100 is off";
    Wm* pwm = wmDriver();
    log().clear();
    pwm->log(fWmSched, "scheduler %d", 1);
    pwm->log(fWmUsb | fWmErr, "either %d", 2);
    EXPECT_EQ(log().records(), (std::vector<std::string>{"kqir: either 2\n"}));
}

TEST_F(FrameTest, LongMessageIsCutToItsBufferAndTheLineStillEnds)
{
    ASSERT_EQ(loadDriver(), STATUS_SUCCESS);
    log().clear();
    std::string sgLong(400, 'x');
    wmDriver()->log(fWmErr, "%s", sgLong.c_str());
    ASSERT_EQ(log().records().size(), 1u);
    std::string sg = log().records()[0];
    EXPECT_EQ(sg, "kqir: " + std::string(cbWmLogMessage - 1, 'x') + "\n");
}

TEST(AssertWords, SourceNameIsPackedFourCharactersToAWordWithSignedAdds)
{
    struct Case {
        const char* sz;
        ULONG_PTR w0, w1, w2;
    } cases[] = {
        {"abcdefghijklmn", 0x61626364, 0x65666768, 0x696A6B6C},
        {"wmdisp", 0x776D6469, 0x73700000, 0},
        {"", 0, 0, 0},
        // A character of 0x80 or more borrows from the byte above it.
        {"a\x80", 0x60800000, 0, 0},
        {"\xff", 0xFFFFFFFFFF000000ull, 0, 0},
    };
    for (const Case& c : cases) {
        ULONG_PTR mpw[3];
        wmAssertWords(c.sz, mpw);
        EXPECT_EQ(mpw[0], c.w0) << c.sz;
        EXPECT_EQ(mpw[1], c.w1) << c.sz;
        EXPECT_EQ(mpw[2], c.w2) << c.sz;
    }
}

using FrameDeathTest = FrameTest;

TEST_F(FrameDeathTest, AssertionStopsTheSystemWithCodeNameAndLine)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(wmAssert("expr", "abcdefghijklmn", 77),
                 "STOP 0x002A0001 \\(0x0000000061626364, 0x0000000065666768, 0x00000000696A6B6C, "
                 "0x000000000000004D\\)");
}

TEST_F(FrameDeathTest, AssertionsOfTheBaseLibraryStopTheSystemOnceTheDriverIsLoaded)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ASSERT_EQ(loadDriver(), STATUS_SUCCESS);
    EXPECT_DEATH(fexAssertFail("iLen >= 1 && iLen <= 4", "wire", 40), "STOP 0x002A0001.*\"wire        \", parameter 4 = 40");
    finish();
    // After unload the driver's build still stops, as it does before the
    // entry: it has no report of its own (no standard error in the kernel).
    EXPECT_EXIT(fexAssertFail("iLen >= 1 && iLen <= 4", "wire", 40), testing::KilledBySignal(SIGILL), "^$");
}

TEST_F(FrameDeathTest, APureVirtualCallStopsTheSystem)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(wmPureVirtual(), "STOP 0x002A0001 \\(0x00000000776D0000, 0x0000000000000000, 0x0000000000000000, 0x[0-9A-F]{16}\\)");
}

}  // namespace
