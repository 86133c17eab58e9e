// The I/O manager and Win32 over it, against the small test driver: path
// parsing, the requests an open sends, method-neither pointers, buffered
// reads, close after the last request, serialisation, cancel, the error
// numbers, and the plug-and-play order around open handles.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "kv_eventually.h"
#include "kv_joining_thread.h"
#include "kv_kernel.h"
#include "test_driver.h"

namespace {

using kvtest::eventually;

// The callers' threads of a test, ended on every path: at the end of the
// scope the requests they left blocked in the test driver are released
// until each thread has returned, then they are joined.
class Callers {
public:
    ~Callers()
    {
        eventually([&] {
            while (testdrv::releaseBlocked(STATUS_CANCELLED)) {
            }
            return _cRunning == 0;
        });
        for (std::thread& t : _threads)
            t.join();
    }
    void run(std::function<void()> f)
    {
        ++_cRunning;
        _threads.emplace_back([this, f] {
            f();
            --_cRunning;
        });
    }

private:
    std::atomic<int> _cRunning{0};
    std::vector<std::thread> _threads;
};

// A hook that holds the first thread passing its point until the test lets
// it go on (or the bounded wait ends); later ones pass.
struct FirstHeld {
    std::atomic<int> cPassed{0};
    std::atomic<bool> fHeld{false};
    std::atomic<bool> fRelease{false};
    std::function<void()> hook()
    {
        return [this] {
            if (cPassed++ != 0)
                return;
            fHeld = true;
            eventually([this] { return fRelease.load(); });
        };
    }
};

// Two fresh pages, the second read-only; unmapped at the end of the scope.
struct WritableThenReadOnly {
    const std::size_t cbPage = std::size_t(sysconf(_SC_PAGESIZE));
    char* p = static_cast<char*>(
        mmap(nullptr, 2 * cbPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    bool fOk = p != MAP_FAILED && mprotect(p + cbPage, cbPage, PROT_READ) == 0;
    char* readOnly() const { return p + cbPage; }
    ~WritableThenReadOnly()
    {
        if (p != MAP_FAILED)
            munmap(p, 2 * cbPage);
    }
};

struct IoTest : ::testing::Test {
    kstub::Kernel k;
    PDEVICE_OBJECT pdo = nullptr;
    void SetUp() override
    {
        testdrv::reset();
        ASSERT_EQ(k.loadDriver(testdrv::DriverEntry, "testdrv"), STATUS_SUCCESS);
        pdo = k.pnp().createPdo(kstub::PdoProps{});
        ASSERT_EQ(k.pnp().state(pdo), kstub::DevState::Started);
        testdrv::record().seen.clear();
    }
    std::vector<testdrv::Seen> seen()
    {
        std::lock_guard<std::mutex> lk(testdrv::record().mtx);
        return testdrv::record().seen;
    }
};

TEST_F(IoTest, CreateFileFollowsTheLinkAndHandsTheRestAsFileName)
{
    HANDLE h = CreateFileA("\\\\.\\testdev_0\\qir\\0", 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    PFILE_OBJECT fo = kstub::io::fileObject(h);
    ASSERT_NE(fo, nullptr);
    EXPECT_EQ(fo->FileName.Length, 12);
    EXPECT_EQ(fo->FsContext, reinterpret_cast<PVOID>(0x1001));
    EXPECT_EQ(fo->DeviceObject, k.findDevice("\\Device\\TESTDEV_0"));
    EXPECT_TRUE(fo->Flags & FO_SYNCHRONOUS_IO);
    auto s = seen();
    ASSERT_EQ(s.size(), 1u);
    EXPECT_EQ(s[0].major, IRP_MJ_CREATE);
    EXPECT_EQ(s[0].fileName, "\\qir\\0");
    EXPECT_EQ(s[0].mode, UserMode);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(testdrv::record().seenMajors(),
              (std::vector<UCHAR>{IRP_MJ_CREATE, IRP_MJ_CLEANUP, IRP_MJ_CLOSE}));
    EXPECT_EQ(seen()[2].fsContext, reinterpret_cast<PVOID>(0x1001));
    EXPECT_EQ(k.openHandles(), 0u);
    EXPECT_EQ(k.irpsOutstanding(), 0u);
}

TEST_F(IoTest, OpenPathsAndTheirErrors)
{
    struct Row {
        const char* path;
        DWORD err;
        const char* fileName;  // what the driver sees when the open reaches it
    };
    const Row rows[] = {
        {"\\\\.\\TESTDEV_0", ERROR_SUCCESS, ""},
        {"\\\\.\\TESTDEV_0\\", ERROR_SUCCESS, "\\"},
        {"\\\\.\\TESTDEV_0\\a\\b\\c", ERROR_SUCCESS, "\\a\\b\\c"},
        {"\\\\.\\TESTDEV_0\\bad", ERROR_DEV_NOT_EXIST, "\\bad"},
        {"\\\\.\\TESTDEV_1\\qir\\0", ERROR_FILE_NOT_FOUND, nullptr},
        {"\\\\.\\\\qir\\0", ERROR_INVALID_NAME, nullptr},
        {"TESTDEV_0\\qir\\0", ERROR_BAD_PATHNAME, nullptr},
        {"\\\\?\\TESTDEV_0", ERROR_BAD_PATHNAME, nullptr},
    };
    for (const Row& r : rows) {
        testdrv::record().seen.clear();
        SetLastError(12345);
        HANDLE h = CreateFileA(r.path, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (r.err == ERROR_SUCCESS) {
            EXPECT_NE(h, INVALID_HANDLE_VALUE) << r.path;
            CloseHandle(h);
        } else {
            EXPECT_EQ(h, INVALID_HANDLE_VALUE) << r.path;
            EXPECT_EQ(GetLastError(), r.err) << r.path;
        }
        auto s = seen();
        if (r.fileName) {
            ASSERT_FALSE(s.empty()) << r.path;
            EXPECT_EQ(s[0].fileName, r.fileName);
        } else {
            EXPECT_TRUE(s.empty()) << r.path;
        }
    }
    EXPECT_EQ(k.openHandles(), 0u);
}

TEST_F(IoTest, MethodNeitherPassesTheCallersPointersUnchanged)
{
    HANDLE h = CreateFileA("\\\\.\\TESTDEV_0\\x", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char in[96], out[48];
    DWORD cb = 77;
    EXPECT_TRUE(DeviceIoControl(h, testdrv::kIoctlEcho, in, 96, out, 48, &cb, nullptr));
    EXPECT_EQ(cb, 0u);
    auto s = seen().back();
    EXPECT_EQ(s.major, IRP_MJ_DEVICE_CONTROL);
    EXPECT_EQ(s.type3, in);
    EXPECT_EQ(s.userBuffer, out);
    EXPECT_EQ(s.cbIn, 96u);
    EXPECT_EQ(s.cbOut, 48u);
    EXPECT_EQ(s.mode, UserMode);
    // Any pointers and lengths travel: the shape checks are the driver's.
    EXPECT_TRUE(DeviceIoControl(h, testdrv::kIoctlEcho, reinterpret_cast<void*>(0x10), 5, nullptr, 0,
                                &cb, nullptr));
    EXPECT_EQ(seen().back().type3, reinterpret_cast<void*>(0x10));
    SetLastError(0);
    EXPECT_FALSE(DeviceIoControl(h, testdrv::kIoctlFail, in, 96, in, 96, &cb, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_SYSTEM_RESOURCES));
    EXPECT_FALSE(DeviceIoControl(h, 0x222013, in, 96, in, 96, &cb, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_FUNCTION));
    CloseHandle(h);
}

TEST_F(IoTest, BufferedControlAndReadCopyBackOnlyWhatWasReturned)
{
    HANDLE h = CreateFileA("\\\\.\\TESTDEV_0", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    char out[16];
    std::memset(out, 'x', sizeof out);
    DWORD cb = 0;
    ASSERT_TRUE(DeviceIoControl(h, testdrv::kIoctlBuffered, out, 3, out, sizeof out, &cb, nullptr));
    EXPECT_EQ(cb, 5u);
    EXPECT_EQ(std::string(out, 5), "pong3");
    EXPECT_EQ(out[6], 'x');
    EXPECT_NE(seen().back().systemBuffer, out);
    char buf[64];
    std::memset(buf, 0, sizeof buf);
    ASSERT_TRUE(ReadFile(h, buf, 4, &cb, nullptr));
    EXPECT_EQ(cb, 4u);
    EXPECT_STREQ(buf, "test");
    ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &cb, nullptr));
    EXPECT_EQ(std::string(buf, cb), "test driver text");
    CloseHandle(h);
}

// A buffered request checks the caller's buffers as the platform does: an
// address it cannot read or write fails the call with ERROR_NOACCESS and
// nothing reaches the driver; a good one still goes through.
TEST_F(IoTest, BufferedRequestsWithBadBuffersFailBeforeTheDriver)
{
    HANDLE h = CreateFileA("\\\\.\\TESTDEV_0", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    WritableThenReadOnly pages;
    ASSERT_TRUE(pages.fOk);
    char* readOnly = pages.readOnly();
    char* kernel = reinterpret_cast<char*>(0xFFFFF80000000000ull);
    char good[96] = {};
    struct Row {
        const char* what;
        void* in;
        void* out;
    };
    const Row rows[] = {
        {"kernel address for both", kernel, kernel},
        {"kernel address in", kernel, good},
        {"kernel address out", good, kernel},
        {"read-only out", good, readOnly},
        {"out runs into a read-only page", good, readOnly - 8},
        {"low address in", reinterpret_cast<void*>(0x1000), good},
    };
    std::size_t cSeen = testdrv::record().seenMajors().size();
    for (const Row& r : rows) {
        DWORD cb = 7;
        SetLastError(0);
        EXPECT_FALSE(DeviceIoControl(h, testdrv::kIoctlBuffered, r.in, 96, r.out, 96, &cb, nullptr))
            << r.what;
        EXPECT_EQ(GetLastError(), DWORD(ERROR_NOACCESS)) << r.what;
        EXPECT_EQ(cb, 0u) << r.what;
    }
    DWORD cb = 0;
    SetLastError(0);
    EXPECT_FALSE(ReadFile(h, readOnly, 16, &cb, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOACCESS));
    EXPECT_FALSE(ReadFile(h, kernel, 16, &cb, nullptr));
    // A read's buffer is probed for write: no buffer with a length is a bad one.
    SetLastError(0);
    EXPECT_FALSE(ReadFile(h, nullptr, 16, &cb, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOACCESS));
    EXPECT_EQ(testdrv::record().seenMajors().size(), cSeen);  // none reached the driver
    // A read-only page is a good input; the answer lands in a good output.
    EXPECT_TRUE(DeviceIoControl(h, testdrv::kIoctlBuffered, readOnly, 16, good, sizeof good, &cb, nullptr));
    EXPECT_STREQ(good, "pong16");
    CloseHandle(h);
    EXPECT_TRUE(k.problems().empty());
}

// The answer of a buffered request comes back unless its status is an
// error: on success, and on a warning such as STATUS_BUFFER_OVERFLOW (a
// partial answer), the bytes and their count arrive; on an error neither.
TEST_F(IoTest, BufferedAnswersComeBackUnlessTheStatusIsAnError)
{
    HANDLE h = CreateFileA("\\\\.\\TESTDEV_0", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    struct Row {
        const char* what;
        NTSTATUS st;
        DWORD err;  // ERROR_SUCCESS: the call succeeds
        bool fBack;
    };
    const Row rows[] = {
        {"success", STATUS_SUCCESS, ERROR_SUCCESS, true},
        {"informational", NTSTATUS(0x40000000), ERROR_SUCCESS, true},
        {"warning", STATUS_BUFFER_OVERFLOW, ERROR_MORE_DATA, true},
        {"error", STATUS_INSUFFICIENT_RESOURCES, ERROR_NO_SYSTEM_RESOURCES, false},
    };
    for (const Row& r : rows) {
        char io[16];
        std::memset(io, 'x', sizeof io);
        std::memcpy(io, &r.st, sizeof r.st);
        DWORD cb = 77;
        SetLastError(0);
        BOOL fOk = DeviceIoControl(h, testdrv::kIoctlBufferedStatus, io, sizeof r.st, io, sizeof io, &cb, nullptr);
        EXPECT_EQ(fOk, r.err == ERROR_SUCCESS) << r.what;
        if (!fOk) {
            EXPECT_EQ(GetLastError(), r.err) << r.what;
        }
        EXPECT_EQ(cb, r.fBack ? 4u : 0u) << r.what;
        EXPECT_EQ(std::memcmp(io, "pong", 4) == 0, r.fBack) << r.what;
        EXPECT_EQ(io[4], 'x') << r.what;
    }
    CloseHandle(h);
    EXPECT_TRUE(k.problems().empty());
}

// The direct methods: the input in a system buffer, the output buffer locked
// in an MDL (probed for reading by the in-direct method, for writing by the
// out-direct one) and unlocked and freed at completion. An output buffer the
// probe refuses fails the call before the driver.
TEST_F(IoTest, DirectMethodControlsLockTheOutputInAnMdl)
{
    HANDLE h = CreateFileA("\\\\.\\TESTDEV_0", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    WritableThenReadOnly pages;
    ASSERT_TRUE(pages.fOk);
    char* readOnly = pages.readOnly();
    char in[3] = {'a', 'b', 'c'};
    char out[32] = {};
    DWORD cb = 0;
    ASSERT_TRUE(DeviceIoControl(h, testdrv::kIoctlOutDirect, in, sizeof in, out, sizeof out, &cb, nullptr));
    EXPECT_EQ(cb, 7u);
    EXPECT_STREQ(out, "direct3");
    testdrv::Seen s = seen().back();
    EXPECT_EQ(s.systemIn, "abc");
    EXPECT_NE(s.systemBuffer, static_cast<void*>(in));
    EXPECT_EQ(s.mdlVa, static_cast<void*>(out));
    EXPECT_EQ(s.cbMdl, sizeof out);
    EXPECT_TRUE(s.fMdlLocked);
    EXPECT_EQ(s.userBuffer, static_cast<void*>(out));
    // Read-only output: good for the in-direct method, not for the out-direct one.
    EXPECT_TRUE(DeviceIoControl(h, testdrv::kIoctlInDirect, in, sizeof in, readOnly, 16, &cb, nullptr));
    EXPECT_EQ(seen().back().mdlVa, static_cast<void*>(readOnly));
    std::size_t cSeen = seen().size();
    SetLastError(0);
    EXPECT_FALSE(DeviceIoControl(h, testdrv::kIoctlOutDirect, in, sizeof in, readOnly, 16, &cb, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOACCESS));
    EXPECT_FALSE(DeviceIoControl(h, testdrv::kIoctlOutDirect, in, sizeof in, nullptr, 16, &cb, nullptr));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_NOACCESS));
    EXPECT_EQ(seen().size(), cSeen);
    // No output: no MDL.
    EXPECT_TRUE(DeviceIoControl(h, testdrv::kIoctlInDirect, in, sizeof in, nullptr, 0, &cb, nullptr));
    EXPECT_EQ(seen().back().mdlVa, nullptr);
    CloseHandle(h);
    EXPECT_EQ(k.mdlsOutstanding(), 0u);
    EXPECT_TRUE(k.problems().empty());
}

// A dispatch routine must return STATUS_PENDING exactly when it marked the
// request pending, and else the status it completed the request with; each
// slip is recorded as the verifier would.
TEST_F(IoTest, PendingRuleSlipsAreRecorded)
{
    HANDLE h = CreateFileA("\\\\.\\TESTDEV_0", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD cb;
    EXPECT_TRUE(DeviceIoControl(h, testdrv::kIoctlEcho, nullptr, 0, nullptr, 0, &cb, nullptr));
    EXPECT_TRUE(k.problems().empty());
    DeviceIoControl(h, testdrv::kIoctlPendUnmarked, nullptr, 0, nullptr, 0, &cb, nullptr);
    DeviceIoControl(h, testdrv::kIoctlMarkedNoPend, nullptr, 0, nullptr, 0, &cb, nullptr);
    DeviceIoControl(h, testdrv::kIoctlStatusMismatch, nullptr, 0, nullptr, 0, &cb, nullptr);
    CloseHandle(h);
    std::vector<std::string> want = {
        "a dispatch routine returned STATUS_PENDING without marking the request pending",
        "a dispatch routine marked the request pending and returned 0x00000000",
        "a dispatch routine returned 0xC0000001 but completed with 0x00000000"};
    EXPECT_EQ(k.problems(), want);
}

TEST_F(IoTest, CloseWaitsForTheRequestInFlightAndPseudoHandlesAreRefused)
{
    HANDLE h = CreateFileA("\\\\.\\TESTDEV_0", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    std::atomic<bool> fDone{false};
    std::atomic<BOOL> fOk{FALSE};
    {
        Callers callers;
        callers.run([&] {
            DWORD cb;
            fOk = DeviceIoControl(h, testdrv::kIoctlBlock, nullptr, 0, nullptr, 0, &cb, nullptr);
            fDone = true;
        });
        ASSERT_TRUE(eventually([] { return testdrv::blockedCount() > 0; }));
        EXPECT_TRUE(CloseHandle(h));
        // Cleanup reached the driver, close waits for the blocked request.
        auto majors = testdrv::record().seenMajors();
        EXPECT_EQ(majors.back(), IRP_MJ_CLEANUP);
        EXPECT_FALSE(fDone);
        ASSERT_TRUE(testdrv::releaseBlocked(STATUS_SUCCESS));
    }
    EXPECT_TRUE(fOk);
    EXPECT_EQ(testdrv::record().seenMajors().back(), IRP_MJ_CLOSE);
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
    EXPECT_FALSE(CloseHandle(nullptr));
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

TEST_F(IoTest, SynchronousFileSerialisesItsRequestsAndCancelEndsThem)
{
    HANDLE h = CreateFileA("\\\\.\\TESTDEV_0", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    std::atomic<DWORD> err{0};
    std::atomic<bool> fSecond{false};
    {
        Callers callers;
        callers.run([&] {
            DWORD cb;
            if (!DeviceIoControl(h, testdrv::kIoctlBlock, nullptr, 0, nullptr, 0, &cb, nullptr))
                err = GetLastError();
        });
        ASSERT_TRUE(eventually([] { return testdrv::blockedCount() > 0; }));
        callers.run([&] {
            DWORD cb;
            DeviceIoControl(h, testdrv::kIoctlEcho, nullptr, 0, nullptr, 0, &cb, nullptr);
            fSecond = true;
        });
        // Room for a second request that does not wait to get through.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_FALSE(fSecond);  // waits behind the first request of the file
        EXPECT_TRUE(CancelIoEx(h, nullptr));
    }
    EXPECT_EQ(err, DWORD(ERROR_OPERATION_ABORTED));
    EXPECT_TRUE(fSecond);
    CloseHandle(h);
}

TEST_F(IoTest, OverlappedFileDoesNotSerialise)
{
    HANDLE h = CreateFileA("\\\\.\\TESTDEV_0", 0, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    EXPECT_FALSE(kstub::io::fileObject(h)->Flags & FO_SYNCHRONOUS_IO);
    {
        Callers callers;
        callers.run([&] {
            DWORD cb;
            DeviceIoControl(h, testdrv::kIoctlBlock, nullptr, 0, nullptr, 0, &cb, nullptr);
        });
        ASSERT_TRUE(eventually([] { return testdrv::blockedCount() > 0; }));
        DWORD cb;
        EXPECT_TRUE(DeviceIoControl(h, testdrv::kIoctlEcho, nullptr, 0, nullptr, 0, &cb, nullptr));
        EXPECT_TRUE(testdrv::releaseBlocked(STATUS_SUCCESS));
    }
    CloseHandle(h);
}

TEST_F(IoTest, RemoveIsRefusedWhileHandlesAreOpen)
{
    HANDLE h = CreateFileA("\\\\.\\TESTDEV_0", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(k.pnp().remove(pdo), STATUS_ACCESS_DENIED);
    EXPECT_EQ(k.pnp().state(pdo), kstub::DevState::Started);
    CloseHandle(h);
    EXPECT_EQ(k.pnp().remove(pdo), STATUS_SUCCESS);
    EXPECT_EQ(k.pnp().state(pdo), kstub::DevState::Removed);
    EXPECT_EQ(k.findDevice("\\Device\\TESTDEV_0"), nullptr);
    EXPECT_TRUE(k.linkTarget("\\DosDevices\\TESTDEV_0").has_value());
    HANDLE h2 = CreateFileA("\\\\.\\TESTDEV_0", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(h2, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(testdrv::record().cRemove, 1);
}

TEST_F(IoTest, SurpriseRemovalSendsRemoveAfterTheLastClose)
{
    HANDLE h = CreateFileA("\\\\.\\TESTDEV_0", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(k.pnp().surpriseRemove(pdo), STATUS_SUCCESS);
    EXPECT_EQ(k.pnp().state(pdo), kstub::DevState::SurpriseRemoved);
    EXPECT_EQ(testdrv::record().cRemove, 0);
    // New opens are refused; the handle already open still reaches the
    // driver with its requests, its cleanup and its close, which the driver
    // must refuse or serve itself.
    EXPECT_EQ(CreateFileA("\\\\.\\TESTDEV_0", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), 5u);  // ERROR_ACCESS_DENIED from STATUS_DELETE_PENDING
    std::size_t cBefore = testdrv::record().seenMajors().size();
    DWORD cb;
    char text[8];
    EXPECT_TRUE(DeviceIoControl(h, testdrv::kIoctlEcho, nullptr, 0, nullptr, 0, &cb, nullptr));
    ReadFile(h, text, sizeof text, &cb, nullptr);
    CloseHandle(h);
    std::vector<UCHAR> majors = testdrv::record().seenMajors();
    majors.erase(majors.begin(), majors.begin() + std::ptrdiff_t(cBefore));
    EXPECT_EQ(majors, (std::vector<UCHAR>{IRP_MJ_DEVICE_CONTROL, IRP_MJ_READ, IRP_MJ_CLEANUP,
                                          IRP_MJ_CLOSE, IRP_MJ_PNP}));
    EXPECT_EQ(testdrv::record().cRemove, 1);
    EXPECT_EQ(k.pnp().state(pdo), kstub::DevState::Removed);
}

TEST_F(IoTest, StopStartAndUnloadInOrder)
{
    EXPECT_EQ(k.pnp().stop(pdo), STATUS_SUCCESS);
    EXPECT_EQ(k.pnp().state(pdo), kstub::DevState::Stopped);
    EXPECT_EQ(k.pnp().start(pdo), STATUS_SUCCESS);
    EXPECT_EQ(testdrv::record().cStart, 2);  // the start at plug-in and the restart
    k.unloadDriver("testdrv");
    EXPECT_FALSE(k.isLoaded("testdrv"));
    EXPECT_EQ(testdrv::record().cUnload, 1);
    EXPECT_EQ(testdrv::record().cRemove, 1);
    EXPECT_EQ(k.pnp().state(pdo), kstub::DevState::Removed);
    EXPECT_EQ(k.deviceCount(), 1u);  // the physical device object only
    EXPECT_TRUE(k.problems().empty());
}

// A start after a stop that fails: the device is surprise-removed (handles
// may be open) and removed at the last close, not at once.
TEST_F(IoTest, FailedRestartIsASurpriseRemovalAndTheRemovalFollowsTheLastClose)
{
    HANDLE h = CreateFileA("\\\\.\\TESTDEV_0", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    ASSERT_EQ(k.pnp().stop(pdo), STATUS_SUCCESS);
    k.pnp().setStartStatus(pdo, STATUS_DEVICE_NOT_READY);
    EXPECT_EQ(k.pnp().start(pdo), STATUS_DEVICE_NOT_READY);
    EXPECT_EQ(k.pnp().state(pdo), kstub::DevState::SurpriseRemoved);
    EXPECT_EQ(testdrv::record().cRemove, 0) << "no removal while a handle is open";
    std::vector<UCHAR> minors;
    for (const testdrv::Seen& s : seen())
        if (s.major == IRP_MJ_PNP)
            minors.push_back(s.minor);
    EXPECT_EQ(minors, (std::vector<UCHAR>{IRP_MN_QUERY_STOP_DEVICE, IRP_MN_STOP_DEVICE, IRP_MN_START_DEVICE,
                                          IRP_MN_SURPRISE_REMOVAL}));
    EXPECT_EQ(CreateFileA("\\\\.\\TESTDEV_0", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
    DWORD cb;
    EXPECT_TRUE(DeviceIoControl(h, testdrv::kIoctlEcho, nullptr, 0, nullptr, 0, &cb, nullptr))
        << "the open handle still reaches the driver";
    CloseHandle(h);
    EXPECT_EQ(testdrv::record().cRemove, 1);
    EXPECT_EQ(k.pnp().state(pdo), kstub::DevState::Removed);
    EXPECT_EQ(k.findDevice("\\Device\\TESTDEV_0"), nullptr);
    EXPECT_TRUE(k.problems().empty());
}

// The last handle closed while the manager, surprise-removing the device,
// has counted it among the files open: the close brings the removal, once.
TEST_F(IoTest, CloseAfterTheSurpriseRemovalCountedItsFileBringsTheRemoval)
{
    HANDLE h = CreateFileA("\\\\.\\TESTDEV_0", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FirstHeld held;
    k.setHook(kstub::Hook::SurpriseRemovalCounted, held.hook());
    std::atomic<NTSTATUS> st{STATUS_PENDING};
    kvtest::JoiningThread remover([&] { st = k.pnp().surpriseRemove(pdo); }, [&] { held.fRelease = true; });
    ASSERT_TRUE(eventually([&] { return held.fHeld.load(); }));
    CloseHandle(h);
    EXPECT_EQ(testdrv::record().cRemove, 1) << "the last close brings the removal";
    held.fRelease = true;
    remover.join();
    EXPECT_EQ(st.load(), STATUS_SUCCESS);
    EXPECT_EQ(testdrv::record().cRemove, 1);
    EXPECT_EQ(k.pnp().state(pdo), kstub::DevState::Removed);
    EXPECT_TRUE(k.problems().empty()) << ::testing::PrintToString(k.problems());
}

// The last handle closed right after the manager, surprise-removing the
// device, counted the files open (at the count, on the manager's thread,
// where no other thread's close can come): the close finds the device marked
// and brings the removal, once.
TEST_F(IoTest, CloseRightAfterTheSurpriseRemovalCountedTheFilesBringsTheRemoval)
{
    HANDLE h = CreateFileA("\\\\.\\TESTDEV_0", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const std::thread::id idManager = std::this_thread::get_id();
    bool fRemoving = false, fClosed = false;
    k.setHook(kstub::Hook::FilesCounted, [&] {
        if (!fRemoving || fClosed || std::this_thread::get_id() != idManager)
            return;
        fClosed = true;
        CloseHandle(h);
    });
    fRemoving = true;
    EXPECT_EQ(k.pnp().surpriseRemove(pdo), STATUS_SUCCESS);
    EXPECT_TRUE(fClosed);
    EXPECT_EQ(testdrv::record().cRemove, 1) << "the close brings the removal";
    EXPECT_EQ(k.pnp().state(pdo), kstub::DevState::Removed);
    EXPECT_TRUE(k.problems().empty()) << ::testing::PrintToString(k.problems());
}

// A removal asked for while one runs (held in the driver's REMOVE), by the
// manager or by the bus that lost the device: it is listed as a problem and
// not sent; the device is removed once.
TEST(PlatformPnp, ASecondRemovalWhileOneRunsIsListedAndNotSent)
{
    struct Row {
        const char* what;
        std::function<NTSTATUS(kstub::Kernel&, PDEVICE_OBJECT)> second;
    };
    const Row rows[] = {
        {"a removal", [](kstub::Kernel& k, PDEVICE_OBJECT pdo) { return k.pnp().remove(pdo); }},
        {"a surprise removal", [](kstub::Kernel& k, PDEVICE_OBJECT pdo) { return k.pnp().surpriseRemove(pdo); }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        kstub::Kernel k;
        testdrv::reset();
        ASSERT_EQ(k.loadDriver(testdrv::DriverEntry, "testdrv"), STATUS_SUCCESS);
        PDEVICE_OBJECT pdo = k.pnp().createPdo(kstub::PdoProps{});
        std::atomic<int> cInRemove{0};
        std::atomic<bool> fRelease{false};
        testdrv::record().onRemove = [&] {
            if (cInRemove++ == 0)
                kvtest::eventually([&] { return fRelease.load(); });
        };
        kvtest::JoiningThread remover([&] { EXPECT_EQ(k.pnp().remove(pdo), STATUS_SUCCESS); },
                                      [&] { fRelease = true; });
        ASSERT_TRUE(eventually([&] { return cInRemove.load() == 1; }));
        r.second(k, pdo);
        EXPECT_EQ(testdrv::record().cRemove, 1) << "the second removal was sent";
        EXPECT_EQ(k.problems(), std::vector<std::string>{"a second removal of \\Device\\KVPDO-0 while one runs"});
        fRelease = true;
        remover.join();
        EXPECT_EQ(testdrv::record().cRemove, 1);
        EXPECT_EQ(k.pnp().state(pdo), kstub::DevState::Removed);
    }
}

// Two handles of a surprise-removed device, with the bus's deletion waiting
// for the removal or without, closed on two threads: the first is held once
// it has let go of its file, until the second has closed and brought the
// removal (and the deletion). One removal, and nothing of the device is read
// after it went.
TEST(PlatformPnp, TwoLastClosesOfASurpriseRemovedDeviceBringOneRemoval)
{
    for (bool fDeleted : {false, true}) {
        SCOPED_TRACE(fDeleted ? "after the bus's deletion" : "surprise-removed");
        kstub::Kernel k;
        testdrv::reset();
        ASSERT_EQ(k.loadDriver(testdrv::DriverEntry, "testdrv"), STATUS_SUCCESS);
        PDEVICE_OBJECT pdo = k.pnp().createPdo(kstub::PdoProps{});
        HANDLE mph[2];
        for (HANDLE& h : mph) {
            h = CreateFileA("\\\\.\\TESTDEV_0", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(h, INVALID_HANDLE_VALUE);
        }
        if (fDeleted)
            k.pnp().deletePdo(pdo);
        else
            ASSERT_EQ(k.pnp().surpriseRemove(pdo), STATUS_SUCCESS);
        FirstHeld held;
        k.setHook(kstub::Hook::FileReleased, held.hook());
        kvtest::JoiningThread first([&] { CloseHandle(mph[0]); }, [&] { held.fRelease = true; });
        ASSERT_TRUE(eventually([&] { return held.fHeld.load(); }));
        EXPECT_EQ(testdrv::record().cRemove, 0);
        CloseHandle(mph[1]);
        EXPECT_EQ(testdrv::record().cRemove, 1) << "the second close brings the removal";
        held.fRelease = true;
        first.join();
        EXPECT_EQ(testdrv::record().cRemove, 1);
        if (fDeleted) {
            EXPECT_TRUE(k.pnp().pdos().empty());
            EXPECT_EQ(k.deviceCount(), 0u);
        } else {
            EXPECT_EQ(k.pnp().state(pdo), kstub::DevState::Removed);
        }
        EXPECT_TRUE(k.problems().empty()) << ::testing::PrintToString(k.problems());
    }
}

TEST(PlatformPnp, PendedStartAndFailedStartOfTheBusDevice)
{
    kstub::Kernel k;
    testdrv::reset();
    k.loadDriver(testdrv::DriverEntry, "testdrv");
    k.pnp().setAutoEnumerate(false);
    PDEVICE_OBJECT a = k.pnp().createPdo(kstub::PdoProps{});
    k.pnp().setPendStart(a, true);
    ASSERT_EQ(k.pnp().addDevice(a), STATUS_SUCCESS);
    EXPECT_EQ(k.pnp().state(a), kstub::DevState::Added);
    EXPECT_EQ(k.pnp().start(a), STATUS_SUCCESS);
    EXPECT_EQ(k.pnp().state(a), kstub::DevState::Started);
    PDEVICE_OBJECT b = k.pnp().createPdo(kstub::PdoProps{});
    k.pnp().setStartStatus(b, STATUS_DEVICE_NOT_READY);
    EXPECT_EQ(k.pnp().enumerate(b), STATUS_DEVICE_NOT_READY);
    EXPECT_EQ(k.pnp().state(b), kstub::DevState::Removed);  // a failed start is removed again
    EXPECT_EQ(k.findDevice("\\Device\\TESTDEV_1"), nullptr);
    EXPECT_EQ(testdrv::record().cStart, 1);
    k.failNext(kstub::Fault::AttachDevice);
    EXPECT_EQ(k.pnp().addDevice(b), STATUS_NO_SUCH_DEVICE);
    k.failNext(kstub::Fault::CreateDevice, 1, STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(k.pnp().addDevice(b), STATUS_INSUFFICIENT_RESOURCES);
    k.pnp().deletePdo(b);
    EXPECT_EQ(k.pnp().pdos().size(), 1u);
}

// The bus deletes a surprise-removed device while its removal waits for the
// last close, or while that removal runs on the thread that closed (held in
// the driver's REMOVE): the removal is sent once and deletes the device when
// it is done, never under it.
TEST(PlatformPnp, DeletionBesideTheRemovalAfterTheLastClose)
{
    for (bool fWhileRemoving : {false, true}) {
        SCOPED_TRACE(fWhileRemoving ? "while the removal runs" : "while the removal waits");
        kstub::Kernel k;
        testdrv::reset();
        ASSERT_EQ(k.loadDriver(testdrv::DriverEntry, "testdrv"), STATUS_SUCCESS);
        PDEVICE_OBJECT pdo = k.pnp().createPdo(kstub::PdoProps{});
        HANDLE h = CreateFileA("\\\\.\\TESTDEV_0", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        ASSERT_EQ(k.pnp().surpriseRemove(pdo), STATUS_SUCCESS);
        if (!fWhileRemoving) {
            k.pnp().deletePdo(pdo);
            EXPECT_EQ(k.pnp().pdos().size(), 1u) << "deleted by the removal";
            CloseHandle(h);
        } else {
            std::atomic<bool> fInRemove{false}, fRelease{false};
            testdrv::record().onRemove = [&] {
                fInRemove = true;
                kvtest::eventually([&] { return fRelease.load(); });
            };
            kvtest::JoiningThread closer([&] { CloseHandle(h); }, [&] { fRelease = true; });
            ASSERT_TRUE(kvtest::eventually([&] { return fInRemove.load(); }));
            k.pnp().deletePdo(pdo);
            EXPECT_EQ(k.pnp().pdos().size(), 1u) << "not deleted under its removal";
            fRelease = true;
            closer.join();
        }
        EXPECT_EQ(testdrv::record().cRemove, 1);
        EXPECT_TRUE(k.pnp().pdos().empty());
        EXPECT_EQ(k.deviceCount(), 0u);
        EXPECT_TRUE(k.problems().empty()) << ::testing::PrintToString(k.problems());
    }
}

}  // namespace
