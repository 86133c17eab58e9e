// The harness of the stand-in kernel: one Kernel per test (or program run),
// created fresh and torn down, with the knobs and records that tests use.
// The driver never includes this header; it sees only wdm.h.
//
// Threads: the kernel may be used from several threads at once (a request
// waiting on one thread while a test drives the board on another); the
// harness calls themselves are thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kv_ring.h"
#include "wdm.h"

#ifdef NTOSKRNL_EXPORTS
#define KSTUB_API __attribute__((visibility("default")))
#else
#define KSTUB_API
#endif

namespace kstub {

namespace detail {
struct State;
}

// How many entries each log of the kernel keeps (its last ones) unless
// Kernel::setLogCapacity says otherwise.
constexpr std::size_t kDefaultLogCapacity = kvring::kDefaultCapacity;

// The registry path of a service key, for example
// \Registry\Machine\System\CurrentControlSet\Services\kavorqir.
KSTUB_API std::string servicePath(const std::string& service);

// A registry value as tests give it.
struct RegValue {
    std::string name;
    ULONG type = REG_DWORD;
    std::vector<uint8_t> data;
    KSTUB_API static RegValue dword(const std::string& name, uint32_t v);
    KSTUB_API static RegValue string(const std::string& name, const std::string& v);  // REG_SZ, UTF-16
    KSTUB_API static RegValue bytes(const std::string& name, ULONG type, std::vector<uint8_t> data);
};

// The in-memory registry. Paths are full paths (\Registry\Machine\...),
// compared without regard to ASCII case; keys are created as needed.
class KSTUB_API Registry {
public:
    void setValue(const std::string& keyPath, const RegValue& v);
    void setDword(const std::string& keyPath, const std::string& name, uint32_t v);
    void removeValue(const std::string& keyPath, const std::string& name);
    void createKey(const std::string& keyPath);
    bool hasKey(const std::string& keyPath) const;
    std::optional<RegValue> value(const std::string& keyPath, const std::string& name) const;
    explicit Registry(detail::State& s) : _s(s) {}

private:
    detail::State& _s;
};

// The last DbgPrint records (Kernel::setLogCapacity), in order.
class KSTUB_API Log {
public:
    std::vector<std::string> records() const;  // the text of each DbgPrint call kept
    uint64_t total() const;                    // DbgPrint calls since the kernel started
    std::vector<std::string> lines() const;    // the whole text cut at '\n' (without it)
    std::string text() const;
    bool contains(const std::string& s) const;
    std::size_t count(const std::string& s) const;  // lines containing s
    void clear();
    void echo(bool fOn);  // also write every record to stderr (also KV_DBGPRINT=1)
    // Counts from now on the records that contain s, kept in the ring or
    // not: a line a test waits for may leave the ring before the test looks.
    void watch(const std::string& s);
    std::size_t seen(const std::string& s) const;  // records with s since watch(s)
    explicit Log(detail::State& s) : _s(s) {}

private:
    detail::State& _s;
};

// Non-paged pool accounting. ExAllocatePool*, the strings that Rtl*String
// functions allocate and the requests USBD_CreateConfigurationRequestEx
// builds come from here; requests (IRPs), MDLs and device objects are kernel
// objects with their own counts (Kernel::irpsOutstanding, mdlsOutstanding,
// deviceCount) and their own fault knobs.
class KSTUB_API Pool {
public:
    std::size_t outstanding() const;       // blocks allocated and not freed
    std::size_t outstandingBytes() const;
    std::size_t allocations() const;       // blocks allocated since the kernel started
    std::size_t failures() const;          // allocations refused by a knob
    // Allocations asked for from executable non-paged pool (NonPagedPool)
    // since the kernel started; NonPagedPoolNx is not executable.
    std::size_t executableAllocations() const;
    // The n-th allocation from now (1 = the next one) returns null.
    void failNth(unsigned n);
    // Every allocation of exactly cb bytes returns null.
    void failSize(std::size_t cb);
    void clearFaults();
    std::string describeOutstanding() const;  // tag and size of each block, for messages
    explicit Pool(detail::State& s) : _s(s) {}

private:
    detail::State& _s;
};

// Kernel calls that tests can make fail. nth counts calls from now (1 = the
// next call); count calls fail from there (0: all of them).
enum class Fault {
    CreateDevice,                 // IoCreateDevice returns the status
    CreateSymbolicLink,           // link creation returns the status
    AttachDevice,                 // IoAttachDeviceToDeviceStack returns NULL
    BuildDeviceIoControlRequest,  // returns NULL
    AllocateIrp,                  // IoAllocateIrp returns NULL
    AllocateMdl,                  // IoAllocateMdl returns NULL
    ProbeAndLockPages,            // the probe raises STATUS_ACCESS_VIOLATION
    MapLockedPages,               // MmMapLockedPagesSpecifyCache returns NULL
    GetDeviceProperty,            // IoGetDeviceProperty returns the status
    OpenDeviceRegistryKey,        // IoOpenDeviceRegistryKey returns the status
    ConnectInterrupt,             // IoConnectInterrupt returns the status
};

// Memory that tests declare unusable for probes, beside what the process's
// own mappings say.
class KSTUB_API Memory {
public:
    void forbid(const void* p, std::size_t cb);    // probes of this range fail
    void readOnly(const void* p, std::size_t cb);  // write probes of this range fail
    void clear();
    std::size_t probes() const;    // probes made
    std::size_t refusals() const;  // probes refused
    // System calls that probes and copies of user memory made in the whole
    // process so far (across a probe, with no other thread probing, that
    // probe's).
    std::size_t systemCalls() const;
    // The probe of the builds without the fault guard (ThreadSanitizer's),
    // for tests of any build: true when every page of [p, p + cb) can be
    // read, and written when fWrite, found through the process's memory calls
    // without touching the pages and, for write access, without a write.
    static bool reachableWithoutTouch(const void* p, std::size_t cb, bool fWrite);
    explicit Memory(detail::State& s) : _s(s) {}

private:
    detail::State& _s;
};

// Port space: handlers for ranges of ports and a log of the last accesses.
struct PortAccess {
    uint16_t port;
    uint8_t size;  // 1, 2 or 4
    bool fWrite;
    uint32_t value;
    bool fHandled;
};
class KSTUB_API Ports {
public:
    using ReadFn = std::function<uint32_t(uint16_t port, uint8_t size)>;
    using WriteFn = std::function<void(uint16_t port, uint8_t size, uint32_t value)>;
    void map(uint16_t base, uint16_t count, ReadFn read, WriteFn write);
    std::vector<PortAccess> log() const;
    void clearLog();
    explicit Ports(detail::State& s) : _s(s) {}

private:
    detail::State& _s;
};

// A resource given to a device at start (raw and translated alike).
struct Resource {
    enum Kind { Port, Memory, Interrupt, DevicePrivate } kind = Port;
    uint64_t start = 0;  // port or memory start
    uint32_t length = 0;
    uint32_t level = 0, vector = 0;  // interrupt
    uint64_t affinity = 1;
    uint16_t flags = 0;  // CM_RESOURCE_PORT_IO, CM_RESOURCE_INTERRUPT_LATCHED...
    uint8_t share = CmResourceShareDeviceExclusive;
    uint32_t data[3] = {0, 0, 0};  // device-private words
};

// What a bus driver does with the requests that reach its physical device
// object (the USB bus stand-in implements it).
class KSTUB_API BusDevice {
public:
    virtual ~BusDevice();
    // IRP_MJ_INTERNAL_DEVICE_CONTROL: complete the request (or pend it) and
    // return its status.
    virtual NTSTATUS internalDeviceControl(PDEVICE_OBJECT pdo, PIRP irp) = 0;
    // The device is being surprise-removed: fail what waits, refuse the rest.
    virtual void surpriseRemoved(PDEVICE_OBJECT pdo);
    // The physical device object is about to be deleted.
    virtual void deleted(PDEVICE_OBJECT pdo);
};

// Properties of a physical device object.
struct PdoProps {
    std::string name;                     // "\Device\..."; empty: generated
    std::u16string driverKey;             // DevicePropertyDriverKeyName; empty: none
    std::string instanceId;               // Enum\<instanceId>; empty: generated
    std::vector<RegValue> deviceValues;   // values of the hardware key (Device Parameters)
    std::vector<Resource> resources;      // handed over with the start request
    std::string service;                  // its function driver; empty: the driver loaded
};

enum class DevState { Present, Added, Started, Stopped, SurpriseRemoved, Removed };

// The plug-and-play manager.
class KSTUB_API Pnp {
public:
    // A new physical device object of a bus. With automatic enumeration (the
    // default) a loaded function driver gets AddDevice and start at once.
    PDEVICE_OBJECT createPdo(const PdoProps& props, BusDevice* pbus = nullptr);
    void setAutoEnumerate(bool fOn);
    NTSTATUS addDevice(PDEVICE_OBJECT pdo);  // the function driver's AddDevice
    // IRP_MN_START_DEVICE through the stack. A device that fails its first
    // start is removed again; one that fails a start after a stop is
    // surprise-removed (REMOVE at the last close, as surpriseRemove).
    NTSTATUS start(PDEVICE_OBJECT pdo);
    NTSTATUS enumerate(PDEVICE_OBJECT pdo);  // addDevice, then start
    NTSTATUS stop(PDEVICE_OBJECT pdo);       // QUERY_STOP, then STOP
    // QUERY_REMOVE (refused with STATUS_ACCESS_DENIED while handles are open
    // on the stack, then CANCEL_REMOVE), then REMOVE.
    NTSTATUS remove(PDEVICE_OBJECT pdo);
    // The bus lost the device: SURPRISE_REMOVAL now, REMOVE when the last
    // handle on the stack is closed (at once when none is open).
    NTSTATUS surpriseRemove(PDEVICE_OBJECT pdo);
    NTSTATUS sendMinor(PDEVICE_OBJECT pdo, UCHAR minor);
    // The bus forgets the device: removes it first if needed, then deletes
    // the physical device object.
    void deletePdo(PDEVICE_OBJECT pdo);
    // The bus goes before the device does: its requests are refused from now
    // on (STATUS_DEVICE_NOT_CONNECTED) and the bus is told nothing more.
    void forgetBus(PDEVICE_OBJECT pdo);
    DevState state(PDEVICE_OBJECT pdo) const;
    PDEVICE_OBJECT top(PDEVICE_OBJECT pdo) const;  // the top of its stack
    std::vector<PDEVICE_OBJECT> pdos() const;
    // The physical device object's own answer to START: fail with a status,
    // or pend and complete it from another thread.
    void setStartStatus(PDEVICE_OBJECT pdo, NTSTATUS st);
    void setPendStart(PDEVICE_OBJECT pdo, bool fPend);
    explicit Pnp(detail::State& s) : _s(s) {}

private:
    detail::State& _s;
};

// Named points of the I/O manager and the plug-and-play manager where a
// race test holds the thread that passes them (Kernel::setHook).
enum class Hook {
    // A close (or an open that failed) has let go of its file and decided
    // whether it brings the removal that waits for the last close; it has
    // not yet looked at the device again or sent that removal.
    FileReleased,
    // SURPRISE_REMOVAL went through the stack, and the manager has marked
    // the removal to follow the last close and counted the files open on the
    // stack; it has not yet sent the removal that no open file holds back.
    SurpriseRemovalCounted,
    // The files open on a device's stack were just counted (by the manager
    // at a removal or a surprise removal, or by a close deciding whether it
    // brings the removal), and the count is not acted on yet. The thread may
    // hold the kernel's lock there: the function must not wait for another
    // thread, but may close a handle itself (a close right after the count).
    FilesCounted,
};
constexpr int kHookCount = 3;

// One user-mode request as the I/O manager saw it.
struct IoRecord {
    UCHAR major;
    ULONG code;  // control code or read length
    NTSTATUS status;
    std::string path;  // the open's path
};

class KSTUB_API Kernel {
public:
    Kernel();   // becomes the current kernel; only one exists at a time
    ~Kernel();  // removes what is left, unloads drivers, frees everything
    Kernel(const Kernel&) = delete;
    Kernel& operator=(const Kernel&) = delete;

    static Kernel* current();

    Registry& registry() { return _registry; }
    Log& log() { return _log; }
    Pool& pool() { return _pool; }
    Memory& memory() { return _memory; }
    Ports& ports() { return _ports; }
    Pnp& pnp() { return _pnp; }

    // Drivers. The service key is created when missing; the driver entry runs
    // with the driver object and the key's path. A module is a shared object
    // whose entry is FxDriverEntry (the framework stub) or DriverEntry.
    NTSTATUS loadDriver(const std::string& modulePath, const std::string& service);
    NTSTATUS loadDriver(PDRIVER_INITIALIZE entry, const std::string& service);
    // Removes the driver's devices still present, then calls its unload
    // routine and frees the driver object.
    void unloadDriver(const std::string& service);
    PDRIVER_OBJECT driverObject(const std::string& service) const;
    bool isLoaded(const std::string& service) const;

    void failNext(Fault f, unsigned nth = 1, NTSTATUS st = STATUS_UNSUCCESSFUL, unsigned count = 1);
    void clearFaults();

    // Object namespace.
    PDEVICE_OBJECT findDevice(const std::string& name) const;  // "\Device\X"
    std::optional<std::string> linkTarget(const std::string& link) const;  // "\DosDevices\X"
    std::size_t deviceCount() const;  // device objects not yet freed
    std::size_t irpsOutstanding() const;
    std::size_t mdlsOutstanding() const;
    std::size_t openHandles() const;

    // Misuse found that did not stop the system (devices left at unload,
    // unhandled port accesses, a request completed with no owner...). The
    // first texts are kept; when more came, a last line says how many.
    std::vector<std::string> problems() const;
    std::size_t problemCount() const;  // every problem, its text kept or not

    // The debug records, the I/O log, the port log and the delays each keep
    // their last n entries (0: none; they still count).
    void setLogCapacity(std::size_t n);
    std::size_t logCapacity() const;

    // Time: the platform clock (kv_clock.h). Moving it through the kernel
    // fires the timers that fall due, in order, each in the calling thread.
    void advanceMs(uint64_t ms);
    void advance100ns(uint64_t dt);
    void runDueTimers();
    void setTimeIncrement(ULONG units100ns);  // KeQueryTimeIncrement, default 156250
    std::vector<LONGLONG> delays() const;     // intervals of KeDelayExecutionThread

    // Calls every interrupt routine connected to the vector (as the hardware
    // would), then the deferred calls they queued. True when one claimed it.
    bool raiseInterrupt(ULONG vector);

    // A wait that lasts longer than this (real time) ends the process with
    // "wait watchdog" (default 10 s, 0 turns the watchdog off).
    void setWaitWatchdogMs(unsigned ms);

    // Framework binds made by driver stubs: "major.minor" each.
    std::vector<std::string> frameworkBinds() const;

    std::vector<IoRecord> ioLog() const;  // the last requests, oldest first
    void clearIoLog();

    // Calls f (empty: nothing) on every thread that passes the point; f may
    // hold that thread until the test lets it go on.
    void setHook(Hook point, std::function<void()> f);
    // The threads blocked now in KeWaitForSingleObject on the object (an
    // event, a mutex or a timer): a test sees another thread wait there.
    std::size_t waitersOn(const void* object) const;

    detail::State& state() { return *_ps; }

private:
    std::unique_ptr<detail::State> _ps;
    Registry _registry;
    Log _log;
    Pool _pool;
    Memory _memory;
    Ports _ports;
    Pnp _pnp;
};

// True while the calling thread runs driver code called by the kernel
// (entry, unload, AddDevice, dispatch, completion, cancel, deferred and
// interrupt routines).
KSTUB_API bool inDriverCall();

// Ends the process after printing "kstub: " and the text (misuse that a real
// kernel would stop on).
[[noreturn]] KSTUB_API void fatal(const std::string& text);

// Formats with the platform's rules into target (always zero-terminated);
// returns the length the whole text would have (INT_MAX when longer).
KSTUB_API int vformat(char* target, std::size_t cb, const char* fmt, va_list ap);
KSTUB_API int format(char* target, std::size_t cb, const char* fmt, ...);
KSTUB_API std::string formatString(const char* fmt, ...);

// UTF-16 helpers.
KSTUB_API std::u16string widen(const std::string& s);
KSTUB_API std::string narrow(const std::u16string& s);  // above 0x7F: '?'

// The user-mode side of the I/O manager: what kernel32 calls, and what
// driver tests call to see exact statuses.
namespace io {
// path: "\\.\NAME" or "\\.\NAME\rest". flags: FILE_FLAG_OVERLAPPED (0x40000000)
// makes the file asynchronous (no serialisation of its requests).
KSTUB_API NTSTATUS create(const char* path, HANDLE* ph, ULONG flags = 0);
KSTUB_API NTSTATUS ioctl(HANDLE h, ULONG code, PVOID in, ULONG cbIn, PVOID out, ULONG cbOut,
                         ULONG_PTR* pInfo = nullptr);
KSTUB_API NTSTATUS read(HANDLE h, PVOID buf, ULONG cb, ULONG_PTR* pInfo = nullptr);
KSTUB_API NTSTATUS close(HANDLE h);
KSTUB_API NTSTATUS cancel(HANDLE h);  // IoCancelIrp of every request in flight
KSTUB_API PFILE_OBJECT fileObject(HANDLE h);
}  // namespace io

}  // namespace kstub
