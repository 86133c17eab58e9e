// Channel transfers of a USB board: the wire order of put, get and exchange,
// the data limits, the failures of each step, the 32-bit caller, and a board
// that goes away while a request waits.
#include <gtest/gtest.h>

#include <cstring>
#include <sys/mman.h>

#include "drv_support.h"
#include "kv_eventually.h"
#include "kv_joining_thread.h"
#include "yekpro_qir.h"

namespace {

using drvtest::Bufs;
using drvtest::DriverTest;
using usbstub::UrbKind;

class TransferTest : public DriverTest {
protected:
    void SetUp() override
    {
        plugAndLoad();
        h = openOk();
        pdev->clearUrbLog();
        log().clear();
    }

    // Waits (bounded) until the bus holds n waiting bulk INs.
    bool waitPendingIn(size_t n)
    {
        return kvtest::eventually([&] { return pdev->pendingIn() == n; });
    }

    // A get on hChan on a thread of its own; one a test leaves waiting ends
    // as the board going away ends it.
    kvtest::JoiningThread getOnThread(HANDLE hChan, NTSTATUS& st)
    {
        return kvtest::JoiningThread([this, hChan, &st] { st = ioctl(hChan, IOCTL_YEK_GET, b.get()); },
                                     [this] { pdev->surpriseRemove(); });
    }

    HANDLE h = nullptr;
    Bufs b;
};

std::string bytes(const std::vector<uint8_t>& v)
{
    return std::string(v.begin(), v.end());
}

TEST_F(TransferTest, ExchangeIsControlDownDataDownDataUpControlUp)
{
    std::vector<char> w = drvtest::qirWrite(3, 0x1234);
    ASSERT_EQ(ioctl(h, IOCTL_YEK_XCH, b.xch(w.data(), w.size())), STATUS_SUCCESS);
    auto x = bulk();
    ASSERT_EQ(x.size(), 4u);
    EXPECT_EQ(x[0].kind, UrbKind::BulkOut);
    EXPECT_EQ(x[0].pipeIndex, 2);
    EXPECT_EQ(bytes(x[0].data), std::string("\x08\x03\x12\x34", 4));
    EXPECT_FALSE(x[0].fMdl);
    EXPECT_EQ(x[1].kind, UrbKind::BulkOut);
    EXPECT_EQ(x[1].cbRequested, 0u) << "no data: a zero-length transfer";
    EXPECT_EQ(x[2].kind, UrbKind::BulkIn);
    EXPECT_EQ(x[2].pipeIndex, 4);
    EXPECT_EQ(x[2].flags, 3u);
    EXPECT_EQ(x[2].cbRequested, 512u);
    EXPECT_TRUE(x[2].fMdl);
    EXPECT_EQ(x[3].kind, UrbKind::BulkIn);
    EXPECT_EQ(x[3].cbRequested, 128u);
    EXPECT_EQ(board->qir()->reg(3), 0x1234u);
    EXPECT_EQ(b.cbDataUp(), 0u);
    EXPECT_EQ(b.cbCtrlUp(), sizeof(KVdepQir100::QirResp));
    auto* presp = KVdepQir100::pQirResp(reinterpret_cast<KVdepYek100::YekControl*>(b.ctrlUp));
    ASSERT_NE(presp, nullptr);
    EXPECT_EQ(presp->eErr(), 0u);
}

TEST_F(TransferTest, PutThenGetCarryTheSameMessageInTwoRequests)
{
    world.kernel().log().clear();
    std::vector<char> r = drvtest::qirRead(20);
    ASSERT_EQ(ioctl(h, IOCTL_YEK_PUT, b.put(r.data(), r.size())), STATUS_SUCCESS);
    EXPECT_EQ(bulk().size(), 2u);
    ASSERT_EQ(ioctl(h, IOCTL_YEK_GET, b.get()), STATUS_SUCCESS);
    EXPECT_EQ(bulk().size(), 4u);
    auto* presp = KVdepQir100::pQirResp(reinterpret_cast<KVdepYek100::YekControl*>(b.ctrlUp));
    ASSERT_NE(presp, nullptr);
    EXPECT_EQ(presp->iErr(), 0xA55Au);
    for (const char* sz : {"kqir0: startIrp", "kqir0: done", "kqir0: down"})
        EXPECT_EQ(logHas(sz), std::string(sz) == "kqir0: down") << sz << ": class 0x40 is off";
}

TEST_F(TransferTest, DataGoesDownWholeAndUpToTheBytesTheBoardSent)
{
    std::vector<char> w = drvtest::qirWrite(1, 1);
    std::memset(b.dataDown, 'd', 600);
    ASSERT_EQ(ioctl(h, IOCTL_YEK_PUT, b.put(w.data(), w.size(), 600)), STATUS_SUCCESS);
    auto x = bulk();
    ASSERT_EQ(x.size(), 2u);
    EXPECT_EQ(x[1].cbRequested, 600u);
    EXPECT_EQ(bytes(x[1].data), std::string(600, 'd'));
    ASSERT_EQ(ioctl(h, IOCTL_YEK_GET, b.get()), STATUS_SUCCESS) << "the write's answer";
    board->pushAnswer(0, {0x0C, 0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0, 0}, {'a', 'b', 'c'});
    ASSERT_EQ(ioctl(h, IOCTL_YEK_GET, b.get()), STATUS_SUCCESS);
    EXPECT_EQ(b.cbDataUp(), 3u);
    EXPECT_EQ(std::string(b.dataUp, 3), "abc");
}

TEST_F(TransferTest, ChannelOneUsesPipesThreeAndFive)
{
    HANDLE h1 = openOk("\\qir\\1");
    std::vector<char> w = drvtest::qirWrite(2, 7);
    ASSERT_EQ(ioctl(h1, IOCTL_YEK_XCH, b.xch(w.data(), w.size())), STATUS_SUCCESS);
    auto x = bulk();
    ASSERT_EQ(x.size(), 4u);
    EXPECT_EQ(x[0].pipeIndex, 3);
    EXPECT_EQ(x[1].pipeIndex, 3);
    EXPECT_EQ(x[2].pipeIndex, 5);
    EXPECT_EQ(x[3].pipeIndex, 5);
}

struct FailingStep {
    UrbKind kind;
    unsigned nth;
    const char* line;
    size_t cBulk;  // transfers made, the failed one included
};

// "BulkOut2": the second bulk OUT transfer fails.
void PrintTo(const FailingStep& c, std::ostream* pos)
{
    *pos << (c.kind == UrbKind::BulkOut ? "BulkOut" : "BulkIn") << c.nth;
}

class FailingStepTest : public TransferTest, public ::testing::WithParamInterface<FailingStep> {};

TEST_P(FailingStepTest, EndsTheRequestWithItsStatusAndLineAndFreesTheChannel)
{
    const FailingStep& c = GetParam();
    std::vector<char> w = drvtest::qirWrite(3, 1);
    pdev->failUrb(c.kind, c.nth);
    EXPECT_EQ(ioctl(h, IOCTL_YEK_XCH, b.xch(w.data(), w.size())), STATUS_UNSUCCESSFUL);
    EXPECT_TRUE(log().contains(c.line)) << log().text();
    EXPECT_EQ(bulk().size(), c.cBulk) << "nothing after the failed step";
    EXPECT_EQ(k().mdlsOutstanding(), 0u);
    // The channel takes the next request (a check that needs no board).
    EXPECT_EQ(ioctl(h, IOCTL_YEK_PROCHK, b.prochk("")), STATUS_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, FailingStepTest,
    ::testing::Values(
        FailingStep{UrbKind::BulkOut, 1, "kqir0: Error 0xc0000001 trying to write downstream message control\n", 1},
        FailingStep{UrbKind::BulkOut, 2, "kqir0: Error 0xc0000001 trying to write downstream message data \n", 2},
        FailingStep{UrbKind::BulkIn, 1, "kqir0: Error 0xc0000001 trying to read upstream message data\n", 3},
        FailingStep{UrbKind::BulkIn, 2, "kqir0: Error 0xc0000001 trying to read upstream message control\n", 4}));

TEST_F(TransferTest, AnswerThatDoesNotUnmarshalIsAConfigurationError)
{
    struct Case {
        KVdepSim100::Fault fault;
        const char* line;
    } cases[] = {
        {KVdepSim100::Fault::wrongType(KVdepQir100::eQirWrite, 15), "kqir0: can't unmarsh control h=13 l=15"},
        {KVdepSim100::Fault::truncateControl(KVdepQir100::eQirWrite, 5), "kqir0: can't unmarsh control h=5 l=12"},
    };
    std::vector<char> w = drvtest::qirWrite(3, 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        board->injectFault(c.fault);
        EXPECT_EQ(ioctl(h, IOCTL_YEK_XCH, b.xch(w.data(), w.size())), STATUS_DEVICE_CONFIGURATION_ERROR);
        EXPECT_TRUE(logHas(c.line));
    }
}

TEST_F(TransferTest, ControlTheProtocolCannotWriteIsRefusedBeforeAnythingIsSent)
{
    KVdepYek100::YekControl c3(3, sizeof(KVdepYek100::YekControl));
    EXPECT_EQ(ioctl(h, IOCTL_YEK_PUT, b.put(&c3, sizeof c3)), STATUS_DEVICE_CONFIGURATION_ERROR);
    EXPECT_TRUE(logHas("kqir0: can't marsh control h=0 l=3"));
    EXPECT_TRUE(bulk().empty());
    std::vector<char> w = drvtest::qirWrite(3, 1);
    EXPECT_EQ(ioctl(h, IOCTL_YEK_XCH, b.xch(w.data(), w.size())), STATUS_SUCCESS);
}

TEST_F(TransferTest, CodeOfNoDirectionSucceedsWithoutTransfers)
{
    ULONG uCode = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x804, METHOD_NEITHER, FILE_ANY_ACCESS);
    std::vector<char> w = drvtest::qirWrite(3, 1);
    EXPECT_EQ(ioctl(h, uCode, b.xch(w.data(), w.size())), STATUS_SUCCESS);
    EXPECT_TRUE(bulk().empty());
}

TEST_F(TransferTest, CallerOf32BitsMovesTheSameBytesAndGetsItsLimitsAs32BitValues)
{
    // A 32-bit process's buffers lie below 2 GiB.
    void* pv = mmap(nullptr, 0x4000, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
    ASSERT_NE(pv, MAP_FAILED);
    char* pch = static_cast<char*>(pv);
    auto lo = [](const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); };
    char* pcd = pch;
    char* pcu = pch + 0x100;
    char* pdu = pch + 0x200;
    uint32_t* pioc = reinterpret_cast<uint32_t*>(pch + 0x1000);
    std::vector<char> r = drvtest::qirRead(20);
    std::memcpy(pcd, r.data(), r.size());
    uint32_t mpu[12] = {lo(pcd + r.size()), lo(pcd + r.size()), lo(pcd), 0, 0, 0,
                        lo(pcu + 128), lo(pcu), lo(pcu), lo(pdu + 512), lo(pdu), lo(pdu)};
    std::memcpy(pioc, mpu, sizeof mpu);
    ASSERT_EQ(ioctl(h, IOCTL_YEK_XCH, pioc, cbYekIoc32), STATUS_SUCCESS);
    auto x = bulk();
    ASSERT_EQ(x.size(), 4u);
    EXPECT_EQ(bytes(x[0].data), std::string("\x07\x14", 2));
    EXPECT_EQ(pioc[7], lo(pcu + sizeof(KVdepQir100::QirResp))) << "control up data limit";
    EXPECT_EQ(pioc[10], lo(pdu)) << "no data came";
    EXPECT_EQ(pioc[6], lo(pcu + 128)) << "the rest stays";
    auto* presp = KVdepQir100::pQirResp(reinterpret_cast<KVdepYek100::YekControl*>(pcu));
    ASSERT_NE(presp, nullptr);
    EXPECT_EQ(presp->iErr(), 0xA55Au);

    // An address at or above 2 GiB widens to the upper half and fails to map.
    pioc[11] = 0x80000000u;
    pioc[9] = 0x80000200u;
    pdev->clearUrbLog();
    EXPECT_EQ(ioctl(h, IOCTL_YEK_XCH, pioc, cbYekIoc32), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_TRUE(logHas("kqir0: can't map data up (wmmdl, "));
    EXPECT_TRUE(bulk().empty()) << "refused before anything is sent";
    munmap(pv, 0x4000);
}

TEST_F(TransferTest, GetWaitsForTheBoardAndCleanupLeavesItAttached)
{
    NTSTATUS st = STATUS_PENDING;
    kvtest::JoiningThread t = getOnThread(h, st);
    ASSERT_TRUE(waitPendingIn(1));
    close(h);  // the cleanup now, the close once the get is done
    EXPECT_TRUE(logHas("kqir0: cleanup chan, irp="));
    EXPECT_FALSE(logHas("kqir0: cleanup chan, irp=0000000000000000"));
    EXPECT_FALSE(logHas("close chan @"));
    board->pushAnswer(0, {0x0C, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 0, 0}, {});
    t.join();
    EXPECT_EQ(st, STATUS_SUCCESS);
    EXPECT_EQ(b.cbCtrlUp(), sizeof(KVdepQir100::QirResp));
    EXPECT_TRUE(logHas("close chan @"));
}

TEST_F(TransferTest, SecondRequestOnABusyChannelIsRefusedAndTheWaitingOneUndisturbed)
{
    HANDLE ho = nullptr;
    ASSERT_EQ(kstub::io::create("\\\\.\\ZEDOZ_EVU_0\\qir\\1", &ho, 0x40000000u), STATUS_SUCCESS);
    Bufs b2;
    NTSTATUS st = STATUS_PENDING;
    kvtest::JoiningThread t = getOnThread(ho, st);
    ASSERT_TRUE(waitPendingIn(1));
    EXPECT_EQ(ioctl(ho, IOCTL_YEK_GET, b2.get()), STATUS_NO_SUCH_DEVICE);
    EXPECT_EQ(pdev->pendingIn(), 1u);
    board->pushAnswer(1, {0x0C, 0, 0, 0, 0, 0, 0, 0, 9, 0, 0, 0, 0}, {});
    t.join();
    EXPECT_EQ(st, STATUS_SUCCESS);
    kstub::io::close(ho);
}

TEST_F(TransferTest, BoardThatGoesAwayDuringAGetFailsItAndEverythingIsFreedOnce)
{
    NTSTATUS st = STATUS_PENDING;
    kvtest::JoiningThread t = getOnThread(h, st);
    ASSERT_TRUE(waitPendingIn(1));
    pdev->surpriseRemove();
    t.join();
    EXPECT_EQ(st, STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_TRUE(logHas("kqir0: Error 0xc000009d trying to read upstream message data"));
    EXPECT_TRUE(logHas("IRP_MN_SURPRISE_REMOVAL"));
    std::vector<char> w = drvtest::qirWrite(3, 1);
    EXPECT_FALSE(NT_SUCCESS(ioctl(h, IOCTL_YEK_XCH, b.xch(w.data(), w.size()))));
    HANDLE h2 = nullptr;
    EXPECT_FALSE(NT_SUCCESS(open(&h2, "\\qir\\1")));
    close(h);
    EXPECT_TRUE(logHas("IRP_MN_REMOVE_DEVICE")) << "removal follows the last close";
    EXPECT_EQ(fdo(), nullptr);
}

// After a surprise removal the handles still open reach the driver, which
// refuses every transfer itself and sends nothing; the read still answers,
// and the last close downloads no idle firmware before the removal.
TEST_F(TransferTest, RemovedBoardRefusesTheRequestsOfItsOpenHandlesItself)
{
    pdev->surpriseRemove();
    pdev->clearUrbLog();
    log().clear();
    std::vector<char> w = drvtest::qirWrite(3, 1);
    EXPECT_EQ(ioctl(h, IOCTL_YEK_PUT, b.put(w.data(), w.size())), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(ioctl(h, IOCTL_YEK_GET, b.get()), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(ioctl(h, IOCTL_YEK_XCH, b.xch(w.data(), w.size())), STATUS_DEVICE_NOT_CONNECTED);
    char text[1024] = {};
    ULONG_PTR cb = 0;
    EXPECT_EQ(kstub::io::read(h, text, sizeof text, &cb), STATUS_SUCCESS);
    EXPECT_GT(cb, 0u);
    EXPECT_FALSE(logHas("IRP_MN_REMOVE_DEVICE")) << "the removal waits for the last close";
    close(h);
    EXPECT_TRUE(logHas("cleanup chan"));
    EXPECT_TRUE(logHas("close chan @"));
    EXPECT_TRUE(bulk().empty()) << "no transfer";
    EXPECT_TRUE(urbs(UrbKind::VendorOut).empty()) << "no idle download at the last close";
    EXPECT_TRUE(logHas("IRP_MN_REMOVE_DEVICE"));
    EXPECT_EQ(fdo(), nullptr);
    EXPECT_EQ(k().irpsOutstanding(), 0u);
    EXPECT_EQ(k().mdlsOutstanding(), 0u);
}

TEST_F(TransferTest, BoardToldOfItsSurpriseRemovalSendsNothingMore)
{
    // Only the driver hears of it here: requests still reach it.
    ASSERT_EQ(k().pnp().sendMinor(pdev->pdo(), IRP_MN_SURPRISE_REMOVAL), STATUS_SUCCESS);
    pdev->clearUrbLog();
    std::vector<char> w = drvtest::qirWrite(3, 1);
    EXPECT_EQ(ioctl(h, IOCTL_YEK_XCH, b.xch(w.data(), w.size())), STATUS_DEVICE_NOT_CONNECTED);
    HANDLE h1 = nullptr;
    EXPECT_EQ(open(&h1, "\\qir\\1"), STATUS_NO_SUCH_DEVICE);
    close(h);
    EXPECT_TRUE(pdev->urbLog().empty()) << "no transfer, no idle download at the last close";
}

}  // namespace
