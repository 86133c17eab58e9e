// The stand-in kernel's internal state: one instance per Kernel.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "kv_kernel.h"
#include "kv_ring.h"

struct DevNode;

// The kernel's record of a device object.
struct KvDeviceInfo {
    std::string name;                // "\Device\X" as created, empty when unnamed
    PDEVICE_OBJECT attachedTo = nullptr;  // the device below, after attaching
    bool fDeleted = false;
    int cRef = 0;                    // open files on it
    DevNode* pnode = nullptr;        // physical device objects only
    PIO_DPC_ROUTINE pfnDpc = nullptr;
    void* pAlloc = nullptr;
};

// Interrupt objects are the kernel's own.
struct _KINTERRUPT {
    PKSERVICE_ROUTINE pfnIsr = nullptr;
    PVOID pvContext = nullptr;
    ULONG vector = 0;
    KIRQL irql = 0, syncIrql = 0;
    KINTERRUPT_MODE mode = LevelSensitive;
    BOOLEAN fShare = FALSE;
    std::mutex lock;
    std::atomic<std::thread::id> owner{};
    std::atomic<bool> fConnected{false};  // changed under the kernel's intrMtx
};

// The I/O manager's record of a request.
struct KvIrpPrivate {
    enum Kind { None, Threaded, Waited } kind = None;
    bool fDone = false;
    // Waited requests: what to copy back to the caller at completion.
    PVOID pvCopyBack = nullptr;
    ULONG cbCopyBack = 0;
    PVOID pvSystemBuffer = nullptr;  // freed with the request
    bool fUserCopyBack = false;      // pvCopyBack is a user-mode caller's buffer
    bool fCopyBackFailed = false;    // ... and a page of it could not be written
    bool fCallerMdl = false;         // MdlAddress locks the caller's buffer (direct method)
    NTSTATUS stCompleted = 0;        // the status the driver completed the request with
    struct FileRec* pfile = nullptr;
};

struct FileRec {
    FILE_OBJECT fo{};
    std::u16string name;
    std::string path;
    bool fSync = true;
    std::mutex ioMtx;  // serialises the requests of a synchronous file
    int cInFlight = 0;
    bool fClosing = false;
    std::set<PIRP> irps;
};

struct DevNode {
    kstub::PdoProps props;
    kstub::BusDevice* pbus = nullptr;
    PDEVICE_OBJECT pdo = nullptr;
    // Read by the I/O manager beside plug and play.
    std::atomic<kstub::DevState> state{kstub::DevState::Present};
    struct DriverRec* pdriver = nullptr;
    NTSTATUS stStart = STATUS_SUCCESS;
    bool fPendStart = false;
    // Set by plug and play, claimed by whoever removes: a last close or the
    // manager itself. Set, and claimed at a last close, under the kernel's
    // lock (mtx), with the files counted.
    std::atomic<bool> fRemoveOnLastClose{false};
    // The bus's deletion beside a removal that waits or runs on another
    // thread: the removal deletes the device when it is done. Both flags
    // under mtxRemoval.
    std::mutex mtxRemoval;
    bool fRemoving = false;
    bool fDeleteWhenRemoved = false;
    bool fBusGone = false;
};

struct DriverRec {
    std::string service;
    PDRIVER_OBJECT pdrv = nullptr;
    void* pdl = nullptr;
    std::u16string regPath, drvName, svcName;
    UNICODE_STRING usRegPath{};
};

namespace kstub::detail {

struct RegKey {
    std::string path;
    std::map<std::string, RegValue> values;  // by lower-case name
};

struct FaultKnob {
    unsigned nth = 0;  // 0: not armed
    unsigned count = 0;
    NTSTATUS st = STATUS_SUCCESS;
};

struct PortRange {
    uint16_t base, count;
    Ports::ReadFn read;
    Ports::WriteFn write;
};

struct Range {
    uintptr_t lo, hi;
};

constexpr std::size_t kMaxProblemTexts = 64;

struct State {
    Kernel* pKernel = nullptr;

    // Namespace, devices, drivers, device nodes, handles, files.
    mutable std::recursive_mutex mtx;
    std::map<std::string, PDEVICE_OBJECT> devices;  // by upper-case name
    std::map<std::string, std::string> links;      // upper-case link -> target
    std::set<PDEVICE_OBJECT> allDevices;
    std::map<uintptr_t, std::string> keyHandles;   // handle -> registry key path
    std::map<uintptr_t, FileRec*> fileHandles;
    std::set<FileRec*> files;  // open or closing
    std::vector<std::thread> workers;
    uintptr_t nextHandle = 4;
    std::vector<std::unique_ptr<DriverRec>> drivers;
    std::vector<std::unique_ptr<DriverRec>> zombies;  // unloaded, devices left behind
    std::vector<std::unique_ptr<DevNode>> nodes;
    bool fAutoEnumerate = true;
    unsigned cPdo = 0;
    PDRIVER_OBJECT pBusDriver = nullptr;

    // Pool.
    mutable std::mutex poolMtx;
    std::map<void*, std::pair<std::size_t, ULONG>> blocks;
    std::size_t cAlloc = 0, cFail = 0;
    std::size_t cExecutable = 0;  // blocks asked for from executable pool
    unsigned failNth = 0;
    bool fFailSize = false;
    std::size_t cbFail = 0;

    // Kernel objects.
    mutable std::mutex objMtx;
    std::set<PIRP> irps;
    std::set<PMDL> mdls;

    // Faults.
    std::mutex faultMtx;
    FaultKnob faults[16];
    // The knobs armed, changed under faultMtx: most calls find none and
    // take no lock.
    std::atomic<unsigned> cFaultsArmed{0};

    // Registry.
    mutable std::mutex regMtx;
    std::map<std::string, RegKey> keys;  // by lower-case path

    // Log.
    mutable std::mutex logMtx;
    kvring::Ring<std::string> records{kDefaultLogCapacity};
    bool fEcho = false;
    // Texts a test watches, with the records that held them since.
    std::vector<std::pair<std::string, std::size_t>> watched;

    // Memory probes.
    mutable std::mutex memMtx;
    std::vector<Range> forbidden, readOnly;
    std::size_t cProbe = 0, cRefused = 0;

    // Ports.
    mutable std::mutex portMtx;
    std::vector<PortRange> portRanges;
    kvring::Ring<PortAccess> portLog{kDefaultLogCapacity};

    // Deferred calls and timers.
    std::mutex dpcMtx;
    std::deque<PKDPC> dpcs;
    std::mutex dpcRunMtx;  // held by the one thread that runs deferred calls
    // Calls taken off the queue to run, and those that have returned (under
    // dpcMtx); a flush waits on dpcCv for the ones before it.
    uint64_t cDpcStarted = 0;
    uint64_t cDpcFinished = 0;
    std::condition_variable dpcCv;
    std::mutex timerMtx;
    std::vector<PKTIMER> timers;
    ULONG timeIncrement = 156250;
    kvring::Ring<LONGLONG> delays{kDefaultLogCapacity};

    // Interrupts (kept until the kernel goes, so that a late use is caught).
    std::mutex intrMtx;
    std::vector<std::unique_ptr<_KINTERRUPT>> interrupts;

    KSPIN_LOCK cancelLock = 0;

    std::mutex hookMtx;
    std::function<void()> hooks[kHookCount];

    mutable std::mutex miscMtx;
    kvring::FirstKept<std::string> problems{kMaxProblemTexts};  // every one counted
    std::vector<std::string> binds;  // one a driver load
    kvring::Ring<IoRecord> ioLog{kDefaultLogCapacity};
};

State& cur();           // the current kernel's state; fatal when there is none
State* curOrNull();

void problem(const std::string& text);
// Calls the test's hook of the point, if one is set.
void passHook(Hook point);
bool takeFault(Fault f, NTSTATUS* pst = nullptr);

// Marks the calling thread as running driver code for its lifetime.
struct DriverCall {
    DriverCall();
    ~DriverCall();
};

// IRQL of the calling thread, and the deferred calls run when it drops.
KIRQL irql();
void setIrql(KIRQL k);
void drainDpcs();

// Dispatcher lock for events, mutexes and request completion.
std::mutex& dispMtx();
std::condition_variable& dispCv();
// Waits on the dispatcher condition until pred holds; the watchdog ends the
// process when that takes too long.
template <class Pred>
void waitWatched(std::unique_lock<std::mutex>& lk, const char* what, Pred pred);
void watchdogExpired(const char* what);
unsigned watchdogMs();
void setWatchdogMs(unsigned ms);

void* poolAlloc(std::size_t cb, ULONG tag, bool fZero, bool fCanFail = true);
void poolFree(void* p);

std::string upper(const std::string& s);
std::string lower(const std::string& s);
std::string narrowUs(PCUNICODE_STRING pus);
// A counted string over s's characters (no terminator); valid while s is.
UNICODE_STRING countedView(std::u16string& s);

// User memory: true when every page of [lo, hi) can be read (and written
// when fWrite), found by touching it under the fault guard where it is
// installed and fTouch allows, else through the memory calls; copies that
// report a page they cannot reach instead of faulting. None of them changes
// what the caller sees. A range that reaches the hole between the user half
// and the kernel half is refused before anything is touched or asked.
constexpr uintptr_t kLowestUserAddress = 0x10000;
constexpr uintptr_t kUserProbeAddress = 0x7FFFFFFF0000;  // the end of the user half that probes accept
constexpr uintptr_t kUserHalfEnd = 0x0000800000000000;     // where the hole between the halves begins
constexpr uintptr_t kKernelHalfStart = 0xFFFF800000000000;  // where it ends
bool userPagesAccessible(uintptr_t lo, uintptr_t hi, bool fWrite, bool fTouch = true);
bool copyFromUser(void* dst, const void* src, std::size_t cb);
bool copyToUser(void* dst, const void* src, std::size_t cb);

// The fault guard (faultguard.cpp), installed at the first call where it can
// be (not in ThreadSanitizer builds, nor on other machines than x86-64).
bool faultGuardInstalled();
// Touches one byte of [lo, hi) in each page under the guard (for write access
// an atomic or of zero); false when a touch faulted. The caller's signal mask
// is as it was.
bool touchUnderGuard(uintptr_t lo, uintptr_t hi, bool fWrite);

// A request of user mode running on the calling thread: its probes ask
// whether the thread lets fault signals through at the first of them, and
// the others take that answer while it holds: until a signal handler runs on
// the thread or the thread is preempted, which the kernel tells by clearing
// the thread's restartable-sequence field that the request set. Where the
// thread has no such field, every probe asks.
struct UserRequestScope {
    UserRequestScope();
    ~UserRequestScope();
    UserRequestScope(const UserRequestScope&) = delete;
    UserRequestScope& operator=(const UserRequestScope&) = delete;
};

// Every system call of the user memory functions goes through countedCall,
// so that tests can pin what a probe costs.
inline std::atomic<std::size_t> g_cUserMemoryCalls{0};
template <class R>
R countedCall(R r)
{
    g_cUserMemoryCalls.fetch_add(1, std::memory_order_relaxed);
    return r;
}

// Requests of the I/O manager.
PIRP allocIrp(CCHAR stackSize, KvIrpPrivate::Kind kind);
void freeIrp(PIRP irp);
// Gives a request a zeroed system buffer of cb bytes holding the cbIn bytes
// of in; at completion up to cbOut bytes go back to out (none when null).
void giveSystemBuffer(PIRP irp, ULONG cb, const void* in, ULONG cbIn, PVOID out, ULONG cbOut);
// Sends a waited request to the device and waits for its completion (what
// names the wait for the watchdog); records a slip of the dispatch rules
// among the problems; returns the status the caller gets. The request stays.
NTSTATUS sendAndWait(PDEVICE_OBJECT dev, PIRP irp, const char* what);
// The same, then frees the request; returns its final status and information.
NTSTATUS callAndWait(PDEVICE_OBJECT dev, PIRP irp, ULONG_PTR* pInfo = nullptr);

void freeDevice(PDEVICE_OBJECT dev);
PDEVICE_OBJECT attachedTop(PDEVICE_OBJECT dev);
PDEVICE_OBJECT bottomOf(PDEVICE_OBJECT dev);
std::size_t openFilesOnStack(PDEVICE_OBJECT pdo);
// Under the kernel's lock (mtx): the node of the stack whose removal waits
// for the last close, taken for the caller when no file is open on the stack
// any more; else null. The node stays until the removal taken is sent.
DevNode* takeRemovalAtLastClose(PDEVICE_OBJECT bottom);
// Sends the removal taken, outside the kernel's lock.
void sendRemovalTaken(DevNode* pn);
DevNode* nodeOf(PDEVICE_OBJECT pdo);
HANDLE newHandle();

template <class Pred>
void waitWatched(std::unique_lock<std::mutex>& lk, const char* what, Pred pred)
{
    unsigned ms = watchdogMs();
    if (ms == 0) {
        dispCv().wait(lk, pred);
        return;
    }
    if (!dispCv().wait_for(lk, std::chrono::milliseconds(ms), pred))
        watchdogExpired(what);
}

}  // namespace kstub::detail
