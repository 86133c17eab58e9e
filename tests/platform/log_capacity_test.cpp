// The kernel's logs keep their last entries, as many as the kernel is told
// (none at all when told 0), and count every one; problems are never lost:
// past the texts kept, a last line says how many more came.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "kv_kernel.h"
#include "test_driver.h"

namespace {

struct LogCapacityTest : ::testing::Test {
    kstub::Kernel k;
    void SetUp() override
    {
        testdrv::reset();
        ASSERT_EQ(k.loadDriver(testdrv::DriverEntry, "testdrv"), STATUS_SUCCESS);
        k.pnp().createPdo(kstub::PdoProps{});
        k.ports().map(0x300, 4, [](uint16_t port, uint8_t) { return uint32_t(port & 0xFF); },
                      [](uint16_t, uint8_t, uint32_t) {});
        k.log().clear();
        k.clearIoLog();
        k.ports().clearLog();
    }

    // n of each kind of entry: debug prints, requests, port reads, delays.
    void makeEntries(int n)
    {
        HANDLE h = CreateFileA("\\\\.\\TESTDEV_0", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        for (int i = 0; i < n; ++i) {
            DbgPrint("record %d\n", i);
            DWORD cb;
            DeviceIoControl(h, testdrv::kIoctlEcho, nullptr, 0, nullptr, 0, &cb, nullptr);
            READ_PORT_UCHAR(reinterpret_cast<PUCHAR>(uintptr_t(0x300 + i % 4)));
            LARGE_INTEGER li;
            li.QuadPart = -(i + 1);
            KeDelayExecutionThread(KernelMode, FALSE, &li);
        }
        CloseHandle(h);
    }
};

std::vector<std::string> recordTexts(int from, int to)
{
    std::vector<std::string> r;
    for (int i = from; i < to; ++i)
        r.push_back("record " + std::to_string(i) + "\n");
    return r;
}

TEST_F(LogCapacityTest, EachLogKeepsItsLastEntriesInOrder)
{
    EXPECT_EQ(k.logCapacity(), kstub::kDefaultLogCapacity);
    struct Case {
        std::size_t cap;
        int n;
    } mpcase[] = {{3, 2}, {3, 7}, {1, 4}, {0, 5}, {kstub::kDefaultLogCapacity, 40}};
    for (const Case& c : mpcase) {
        SCOPED_TRACE("capacity " + std::to_string(c.cap) + ", " + std::to_string(c.n) + " of each");
        k.setLogCapacity(c.cap);
        k.log().clear();
        k.clearIoLog();
        k.ports().clearLog();
        uint64_t cBefore = k.log().total();
        makeEntries(c.n);
        EXPECT_EQ(k.logCapacity(), c.cap);
        int cKept = std::min<int>(c.n, int(c.cap));
        EXPECT_EQ(k.log().records(), recordTexts(c.n - cKept, c.n));
        EXPECT_EQ(k.log().total() - cBefore, uint64_t(c.n)) << "every print counted, kept or not";
        // The I/O log also holds the open, cleanup and close around the controls.
        std::vector<kstub::IoRecord> io = k.ioLog();
        ASSERT_EQ(io.size(), std::min<std::size_t>(c.n + 3, c.cap));
        if (!io.empty()) {
            EXPECT_EQ(io.back().major, IRP_MJ_CLOSE);
        }
        std::vector<kstub::PortAccess> ports = k.ports().log();
        ASSERT_EQ(ports.size(), std::size_t(cKept));
        for (int i = 0; i < cKept; ++i)
            EXPECT_EQ(ports[i].port, 0x300 + (c.n - cKept + i) % 4);
        std::vector<LONGLONG> delays = k.delays();
        ASSERT_EQ(delays.size(), std::size_t(cKept));
        if (!delays.empty()) {
            EXPECT_EQ(delays.back(), -LONGLONG(c.n));
        }
    }
}

TEST_F(LogCapacityTest, TheTextOfADebugPrintIsStillEchoedWhenNoneIsKept)
{
    k.setLogCapacity(0);
    k.log().echo(true);
    testing::internal::CaptureStderr();
    DbgPrint("echoed %s %u\n", "text", 7u);
    std::string sg = testing::internal::GetCapturedStderr();
    k.log().echo(false);
    EXPECT_EQ(sg, "echoed text 7\n");
    EXPECT_TRUE(k.log().records().empty());
}

TEST_F(LogCapacityTest, ProblemsPastTheTextsKeptAreCountedAndSaidSo)
{
    k.setLogCapacity(0);  // problems do not depend on the logs
    for (int i = 0; i < 70; ++i)
        READ_PORT_UCHAR(reinterpret_cast<PUCHAR>(uintptr_t(0x500 + i)));  // no handler: a problem each
    EXPECT_EQ(k.problemCount(), 70u);
    std::vector<std::string> mp = k.problems();
    ASSERT_EQ(mp.size(), 65u);
    EXPECT_EQ(mp.front(), "read of unhandled port " + std::to_string(0x500));
    EXPECT_EQ(mp[63], "read of unhandled port " + std::to_string(0x500 + 63));
    EXPECT_EQ(mp.back(), "6 more problems (texts not kept)");
}

// A watched text is counted in every record that holds it, also in those the
// ring has let go (or never kept), and only since the watch began.
TEST_F(LogCapacityTest, WatchedTextIsCountedInRecordsTheRingLetGo)
{
    for (std::size_t cap : {std::size_t(0), std::size_t(1), std::size_t(4)}) {
        SCOPED_TRACE("capacity " + std::to_string(cap));
        k.setLogCapacity(cap);
        DbgPrint("record 1\n");
        k.log().watch("record 1");
        EXPECT_EQ(k.log().seen("record 1"), 0u) << "only records since the watch";
        makeEntries(12);  // record 1, record 10, record 11
        EXPECT_EQ(k.log().seen("record 1"), 3u);
        EXPECT_EQ(k.log().seen("record 2"), 0u) << "not watched";
        EXPECT_FALSE(k.log().contains("record 1\n"));
    }
}

}  // namespace
