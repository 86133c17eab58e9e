// Two threads on one channel handle opened for overlapped I/O, on a USB and
// on a PCI board: protocol checks and puts, each with a good record and with
// one that cannot be mapped or is refused, and reads of the identification
// text. The channel carries one request at a time: a second one is refused
// with STATUS_NO_SUCH_DEVICE, every other ends with its own status, and the
// read toggle flips once a read.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "pci_support.h"
#include "qirc.h"

namespace {

using drvtest::Bufs;
using kstub::formatString;

const ULONG fOverlapped = 0x40000000u;
const int cRequestsPerThread = 5000;
const int cReadsPerThread = 2000;

// How a request's block is built.
using Build = std::function<YekIoc&(Bufs&)>;

// One kind of request: how its block is built and the status it ends with
// when the channel is free.
struct Request {
    const char* szName;
    ULONG uCode;
    Build build;
    NTSTATUS st;
};

// The block of build with one of its records replaced.
Build withRecord(Build build, YekMemStruct YekIoc::*pRec, YekMemStruct rec)
{
    return [=](Bufs& b) -> YekIoc& {
        build(b).*pRec = rec;
        return b.ioc;
    };
}

std::vector<Request> requestsOf(const std::string& sgSig, const std::vector<char>& mpbPut)
{
    char* pchBad = reinterpret_cast<char*>(0x20);
    const YekMemStruct bad16{pchBad + 16, pchBad, pchBad};
    const YekMemStruct badPut{pchBad + mpbPut.size(), pchBad + mpbPut.size(), pchBad};
    // No page can be there, for a caller of either mode.
    char* pchHole = reinterpret_cast<char*>(0x0000800000000000ull);
    const YekMemStruct hole16{pchHole + 16, pchHole, pchHole};
    char* pchIntoHole = pchHole - mpbPut.size() / 2;
    const YekMemStruct intoHolePut{pchIntoHole + mpbPut.size(), pchIntoHole + mpbPut.size(), pchIntoHole};
    Build prochk = [sgSig](Bufs& b) -> YekIoc& { return b.prochk(sgSig); };
    Build put = [mpbPut](Bufs& b) -> YekIoc& { return b.put(mpbPut.data(), mpbPut.size()); };
    return {
        {"protocol check", IOCTL_YEK_PROCHK, prochk, STATUS_SUCCESS},
        {"protocol check, data down not in the process", IOCTL_YEK_PROCHK, withRecord(prochk, &YekIoc::_dd, bad16),
         STATUS_INSUFFICIENT_RESOURCES},
        {"protocol check, another signature", IOCTL_YEK_PROCHK,
         [](Bufs& b) -> YekIoc& { return b.prochk("x"); }, STATUS_INSUFFICIENT_RESOURCES},
        {"protocol check, data down between the halves", IOCTL_YEK_PROCHK,
         withRecord(prochk, &YekIoc::_dd, hole16), STATUS_INSUFFICIENT_RESOURCES},
        {"protocol check of 2049 bytes", IOCTL_YEK_PROCHK, [](Bufs& b) -> YekIoc& { return b.prochkBytes(2049); },
         STATUS_INSUFFICIENT_RESOURCES},
        {"put", IOCTL_YEK_PUT, put, STATUS_SUCCESS},
        {"put, data down not in the process", IOCTL_YEK_PUT, withRecord(put, &YekIoc::_dd, bad16),
         STATUS_INSUFFICIENT_RESOURCES},
        {"put, control down not in the process", IOCTL_YEK_PUT, withRecord(put, &YekIoc::_cd, badPut),
         STATUS_INSUFFICIENT_RESOURCES},
        {"put, data down between the halves", IOCTL_YEK_PUT, withRecord(put, &YekIoc::_dd, hole16),
         STATUS_INSUFFICIENT_RESOURCES},
        {"put, control down running into the hole between the halves", IOCTL_YEK_PUT,
         withRecord(put, &YekIoc::_cd, intoHolePut), STATUS_INSUFFICIENT_RESOURCES},
    };
}

// Runs the requests from two threads on the handle, each going on until both
// have sent their share; the statuses that were neither the request's own
// nor a busy channel's.
std::vector<std::string> twoThreadsOn(HANDLE h, const std::vector<Request>& mpreq)
{
    std::mutex mtx;
    std::vector<std::string> mpszUnexpected;
    std::atomic<int> cDone{0};
    std::vector<std::thread> mpt;
    for (int iThread = 0; iThread < 2; ++iThread)
        mpt.emplace_back([&, iThread] {
            for (int n = 0; n < cRequestsPerThread || cDone < 2; ++n) {
                if (n == cRequestsPerThread)
                    ++cDone;
                const Request& r = mpreq[static_cast<size_t>(n * 3 + iThread) % mpreq.size()];
                Bufs b;
                NTSTATUS st = drvtest::ioctlInOut(h, r.uCode, &r.build(b), cbYekIoc);
                if (st != r.st && st != STATUS_NO_SUCH_DEVICE) {
                    std::lock_guard<std::mutex> lk(mtx);
                    mpszUnexpected.push_back(formatString("%s: 0x%08X", r.szName, unsigned(st)));
                }
            }
        });
    for (std::thread& t : mpt)
        t.join();
    return mpszUnexpected;
}

// Reads of 1024 bytes from two threads: how many returned the text.
unsigned textsOfTwoThreadsReading(HANDLE h)
{
    std::atomic<unsigned> cTexts{0};
    std::vector<std::thread> mpt;
    for (int iThread = 0; iThread < 2; ++iThread)
        mpt.emplace_back([&] {
            for (int n = 0; n < cReadsPerThread; ++n) {
                char mpch[1024];
                ULONG_PTR cb = 0;
                EXPECT_EQ(kstub::io::read(h, mpch, sizeof mpch, &cb), STATUS_SUCCESS);
                if (cb > 0)
                    ++cTexts;
            }
        });
    for (std::thread& t : mpt)
        t.join();
    return cTexts;
}

// A request of a kernel-mode caller on the handle's channel, ended by the
// dispatch itself, whose completion routine sends a second request on the
// handle and waits for it: the channel is left before the first request is
// detached and completed, so the second finds it free.
struct SecondRequest {
    HANDLE h;
    std::string sgSig;
    NTSTATUS st = STATUS_PENDING;
};

NTSTATUS sendSecondRequest(PDEVICE_OBJECT, PIRP, PVOID pv)
{
    auto* psr = static_cast<SecondRequest*>(pv);
    std::thread t([psr] {
        Bufs b;
        psr->st = drvtest::ioctlInOut(psr->h, IOCTL_YEK_PROCHK, &b.prochk(psr->sgSig), cbYekIoc);
    });
    t.join();
    return STATUS_SUCCESS;
}

// Each request first, as it is and, when it is a good one, with the first
// or the second of its descriptor lists (the block's, then a record's) not
// allocated: its status, and the status of the second request.
void expectSecondRequestFindsTheChannelFree(kstub::Kernel& k, PDEVICE_OBJECT fdo, HANDLE h, const std::string& sgSig,
                                            const std::vector<Request>& mpreq)
{
    for (const Request& r : mpreq)
        for (unsigned iFailingMdl = 0; iFailingMdl <= (r.st == STATUS_SUCCESS ? 2u : 0u); ++iFailingMdl) {
            SCOPED_TRACE(formatString("%s, descriptor list %u not allocated", r.szName, iFailingMdl));
            if (iFailingMdl)
                k.failNext(kstub::Fault::AllocateMdl, iFailingMdl);
            NTSTATUS stFirst = iFailingMdl ? STATUS_INSUFFICIENT_RESOURCES : r.st;
            Bufs b;
            YekIoc& ioc = r.build(b);
            KEVENT ev;
            KeInitializeEvent(&ev, NotificationEvent, FALSE);
            IO_STATUS_BLOCK iosb = {};
            PIRP pIrp = IoBuildDeviceIoControlRequest(r.uCode, fdo, &ioc, cbYekIoc, &ioc, cbYekIoc, FALSE, &ev, &iosb);
            ASSERT_NE(pIrp, nullptr);
            IoGetNextIrpStackLocation(pIrp)->FileObject = kstub::io::fileObject(h);
            SecondRequest sr{h, sgSig};
            IoSetCompletionRoutine(pIrp, sendSecondRequest, &sr, TRUE, TRUE, TRUE);
            // A request that reached the board's start returns pending; all
            // are complete when the call returns.
            NTSTATUS st = IoCallDriver(fdo, pIrp);
            EXPECT_TRUE(st == stFirst || st == STATUS_PENDING) << formatString("0x%08X", unsigned(st));
            EXPECT_EQ(iosb.Status, stFirst);
            EXPECT_EQ(sr.st, STATUS_SUCCESS) << "the second request finds the channel free";
            k.clearFaults();
        }
    EXPECT_EQ(k.irpsOutstanding(), 0u);
    EXPECT_EQ(k.mdlsOutstanding(), 0u);
    EXPECT_TRUE(k.problems().empty()) << ::testing::PrintToString(k.problems());
}

// A protocol check, which the dispatch ends itself, held between leaving
// its channel and being detached: a second request on the handle finds the
// channel still taken and is refused, never let in while the first is there.
void expectSecondRequestWhileTheFirstEndsIsRefused(kstub::Kernel& k, HANDLE h, const std::string& sgSig)
{
    drvtest::PointHold hold(eWmPointIoctlEnd);
    std::atomic<NTSTATUS> st{STATUS_PENDING};
    kvtest::JoiningThread first(
        [&] {
            Bufs b;
            st = drvtest::ioctlInOut(h, IOCTL_YEK_PROCHK, &b.prochk(sgSig), cbYekIoc);
        },
        [&] { hold.release(); });
    ASSERT_TRUE(hold.waitHeld());
    Bufs b;
    EXPECT_EQ(drvtest::ioctlInOut(h, IOCTL_YEK_PROCHK, &b.prochk(sgSig), cbYekIoc), STATUS_NO_SUCH_DEVICE);
    hold.release();
    first.join();
    EXPECT_EQ(st.load(), STATUS_SUCCESS);
    Bufs bAfter;
    EXPECT_EQ(drvtest::ioctlInOut(h, IOCTL_YEK_PROCHK, &bAfter.prochk(sgSig), cbYekIoc), STATUS_SUCCESS);
    EXPECT_EQ(k.irpsOutstanding(), 0u);
    EXPECT_EQ(k.mdlsOutstanding(), 0u);
    EXPECT_TRUE(k.problems().empty()) << ::testing::PrintToString(k.problems());
}

// A board plugged and the driver loaded, and one channel opened for
// overlapped I/O; the board's signature and a register write of its protocol.
template <class BoardTest>
class SharedHandleTest : public BoardTest {
protected:
    virtual const char* channelPath() const = 0;
    virtual std::string signature() const = 0;
    virtual std::vector<char> registerWrite() const = 0;

    void SetUp() override
    {
        // Error lines only: thousands of requests.
        this->world.setDebug(fWmErr);
        this->plugAndLoad();
        ASSERT_EQ(kstub::io::create(channelPath(), &h, fOverlapped), STATUS_SUCCESS);
    }
    void TearDown() override
    {
        if (h) {
            EXPECT_EQ(kstub::io::close(h), STATUS_SUCCESS);
        }
        BoardTest::TearDown();
    }

    void expectTwoThreadsEndEachRequestOnce()
    {
        std::vector<std::string> mpsz = twoThreadsOn(h, requestsOf(signature(), registerWrite()));
        EXPECT_TRUE(mpsz.empty()) << ::testing::PrintToString(mpsz);
        EXPECT_EQ(this->k().irpsOutstanding(), 0u);
        EXPECT_EQ(this->k().mdlsOutstanding(), 0u);
        EXPECT_TRUE(this->k().problems().empty()) << ::testing::PrintToString(this->k().problems());
    }
    void expectSecondRequestFindsItFree()
    {
        expectSecondRequestFindsTheChannelFree(this->k(), this->fdo(), h, signature(),
                                               requestsOf(signature(), registerWrite()));
    }
    void expectSecondRequestWhileTheFirstEndsRefused()
    {
        expectSecondRequestWhileTheFirstEndsIsRefused(this->k(), h, signature());
    }

    HANDLE h = nullptr;
};

class UsbSharedHandleTest : public SharedHandleTest<drvtest::DriverTest> {
protected:
    const char* channelPath() const override { return "\\\\.\\ZEDOZ_EVU_0\\qir\\0"; }
    std::string signature() const override { return ykQir._puDd[0]._pup->szProto(); }
    std::vector<char> registerWrite() const override { return drvtest::qirWrite(3, 1); }
};

TEST_F(UsbSharedHandleTest, ProtocolChecksAndPutsOfTwoThreadsEachEndOnceWithTheirStatusOrBusy)
{
    expectTwoThreadsEndEachRequestOnce();
}

TEST_F(UsbSharedHandleTest, SecondRequestSentAsTheFirstCompletesFindsTheChannelFree)
{
    expectSecondRequestFindsItFree();
}

TEST_F(UsbSharedHandleTest, SecondRequestWhileTheFirstIsBetweenItsLeaveAndItsDetachIsRefused)
{
    expectSecondRequestWhileTheFirstEndsRefused();
}

TEST_F(UsbSharedHandleTest, ReadsOfTwoThreadsReturnTheTextEverySecondTime)
{
    EXPECT_EQ(textsOfTwoThreadsReading(h), static_cast<unsigned>(cReadsPerThread));
}

class PciSharedHandleTest : public SharedHandleTest<drvtest::PciTest> {
protected:
    const char* channelPath() const override { return "\\\\.\\ZEDOZ_EVU_0\\pio\\0"; }
    std::string signature() const override { return drvtest::pioProto()->szProto(); }
    std::vector<char> registerWrite() const override
    {
        drvtest::PioWrite w(1, 2);
        const char* pch = reinterpret_cast<const char*>(&w);
        return std::vector<char>(pch, pch + sizeof w);
    }
};

TEST_F(PciSharedHandleTest, ProtocolChecksAndPutsOfTwoThreadsEachEndOnceWithTheirStatusOrBusy)
{
    expectTwoThreadsEndEachRequestOnce();
}

TEST_F(PciSharedHandleTest, SecondRequestSentAsTheFirstCompletesFindsTheChannelFree)
{
    expectSecondRequestFindsItFree();
}

TEST_F(PciSharedHandleTest, SecondRequestWhileTheFirstIsBetweenItsLeaveAndItsDetachIsRefused)
{
    expectSecondRequestWhileTheFirstEndsRefused();
}

TEST_F(PciSharedHandleTest, ReadsOfTwoThreadsReturnTheTextEverySecondTime)
{
    EXPECT_EQ(textsOfTwoThreadsReading(h), static_cast<unsigned>(cReadsPerThread));
}

}  // namespace
