// Deferred procedure calls, kernel timers, interrupt objects and port I/O.
#include <algorithm>
#include <chrono>

#include "kv_clock.h"
#include "state.h"

using namespace kstub;
using namespace kstub::detail;

namespace kstub::detail {

namespace {
thread_local bool t_fDraining = false;
}

void drainDpcs()
{
    State* ps = curOrNull();
    if (!ps || t_fDraining || irql() >= DISPATCH_LEVEL)
        return;
    t_fDraining = true;
    for (;;) {
        if (!ps->dpcRunMtx.try_lock())
            break;  // another thread runs them; it looks again before it stops
        for (;;) {
            PKDPC pdpc = nullptr;
            PKDEFERRED_ROUTINE pfn = nullptr;
            PVOID ctx = nullptr, a1 = nullptr, a2 = nullptr;
            {
                // The arguments are taken with the call: once it is off the
                // queue another thread may queue it again with new ones.
                std::lock_guard<std::mutex> lk(ps->dpcMtx);
                if (ps->dpcs.empty())
                    break;
                pdpc = ps->dpcs.front();
                ps->dpcs.pop_front();
                pdpc->Inserted = 0;
                pfn = pdpc->DeferredRoutine;
                ctx = pdpc->DeferredContext;
                a1 = pdpc->SystemArgument1;
                a2 = pdpc->SystemArgument2;
                ++ps->cDpcStarted;
            }
            KIRQL old = irql();
            setIrql(DISPATCH_LEVEL);
            {
                DriverCall dc;
                pfn(pdpc, ctx, a1, a2);
            }
            if (irql() != DISPATCH_LEVEL)
                fatal("a deferred routine returned at another IRQL");
            setIrql(old);
            {
                std::lock_guard<std::mutex> lk(ps->dpcMtx);
                ++ps->cDpcFinished;
            }
            ps->dpcCv.notify_all();
        }
        ps->dpcRunMtx.unlock();
        std::lock_guard<std::mutex> lk(ps->dpcMtx);
        if (ps->dpcs.empty())
            break;
    }
    t_fDraining = false;
}

}  // namespace kstub::detail

VOID KeInitializeDpc(PRKDPC Dpc, PKDEFERRED_ROUTINE DeferredRoutine, PVOID DeferredContext)
{
    std::memset(Dpc, 0, sizeof *Dpc);
    Dpc->Type = 0x13;
    Dpc->DeferredRoutine = DeferredRoutine;
    Dpc->DeferredContext = DeferredContext;
}

namespace {

// Queues the call without running it; false when it is queued already.
bool queueDpc(State& s, PRKDPC Dpc, PVOID SystemArgument1, PVOID SystemArgument2)
{
    {
        std::lock_guard<std::mutex> lk(s.dpcMtx);
        if (Dpc->Inserted)
            return false;
        if (!Dpc->DeferredRoutine)
            fatal("KeInsertQueueDpc of an uninitialised deferred call");
        Dpc->Inserted = 1;
        Dpc->SystemArgument1 = SystemArgument1;
        Dpc->SystemArgument2 = SystemArgument2;
        s.dpcs.push_back(Dpc);
    }
    s.dpcCv.notify_all();  // a flush may run it
    return true;
}

}  // namespace

BOOLEAN KeInsertQueueDpc(PRKDPC Dpc, PVOID SystemArgument1, PVOID SystemArgument2)
{
    if (!queueDpc(cur(), Dpc, SystemArgument1, SystemArgument2))
        return FALSE;
    drainDpcs();
    return TRUE;
}

BOOLEAN KeRemoveQueueDpc(PRKDPC Dpc)
{
    State& s = cur();
    std::lock_guard<std::mutex> lk(s.dpcMtx);
    if (!Dpc->Inserted)
        return FALSE;
    s.dpcs.erase(std::remove(s.dpcs.begin(), s.dpcs.end(), Dpc), s.dpcs.end());
    Dpc->Inserted = 0;
    s.dpcCv.notify_all();
    return TRUE;
}

// Returns when every call queued or running at entry has returned: runs them
// on this thread while no other thread does, else waits for the thread that
// runs them. Calls run one at a time in queue order, so those before the
// flush are the runs up to the count started plus the count queued then.
VOID KeFlushQueuedDpcs(void)
{
    State& s = cur();
    if (t_fDraining || irql() >= DISPATCH_LEVEL) {
        problem("KeFlushQueuedDpcs at DISPATCH_LEVEL or in a deferred routine");
        return;
    }
    uint64_t cTarget;
    {
        std::lock_guard<std::mutex> lk(s.dpcMtx);
        cTarget = s.cDpcStarted + s.dpcs.size();
    }
    auto fFlushed = [&] {
        return s.cDpcFinished >= cTarget || (s.dpcs.empty() && s.cDpcFinished == s.cDpcStarted);
    };
    unsigned msWatch = watchdogMs();
    auto tEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(msWatch);
    for (;;) {
        drainDpcs();
        std::unique_lock<std::mutex> lk(s.dpcMtx);
        // A call queued by a thread that has not yet dropped its level is
        // run here on the next round.
        if (s.dpcCv.wait_for(lk, std::chrono::milliseconds(1), fFlushed))
            return;
        if (msWatch && std::chrono::steady_clock::now() > tEnd) {
            lk.unlock();
            watchdogExpired("KeFlushQueuedDpcs");
        }
    }
}

// ---------------------------------------------------------------------------
// Timers.
namespace {

// Fires one timer that is due: signals it, queues its call, sets it again
// when periodic. Returns false when none is due at or before t. The call is
// queued under the timers' lock: once KeCancelTimer has returned, the call
// of an expiry is queued (to be removed or flushed) or never will be.
bool fireOne(State& s, uint64_t t)
{
    {
        std::lock_guard<std::mutex> lk(s.timerMtx);
        PKTIMER pt = nullptr;
        for (PKTIMER p : s.timers)
            if (p->DueTime <= t && (!pt || p->DueTime < pt->DueTime))
                pt = p;
        if (!pt)
            return false;
        if (pt->Period > 0) {
            pt->DueTime += uint64_t(pt->Period) * kvclock::kUnitsPerMs;
        } else {
            s.timers.erase(std::remove(s.timers.begin(), s.timers.end(), pt), s.timers.end());
            pt->Inserted = 0;
        }
        {
            std::lock_guard<std::mutex> lkDisp(dispMtx());
            pt->Header.SignalState = 1;
            dispCv().notify_all();
        }
        if (pt->Dpc) {
            ULONGLONG now = kvclock::now100ns();
            queueDpc(s, pt->Dpc, reinterpret_cast<PVOID>(uintptr_t(now & 0xFFFFFFFFu)),
                     reinterpret_cast<PVOID>(uintptr_t(now >> 32)));
        }
    }
    drainDpcs();
    return true;
}

uint64_t nextDue(State& s, bool* pf)
{
    std::lock_guard<std::mutex> lk(s.timerMtx);
    uint64_t t = ~uint64_t(0);
    *pf = false;
    for (PKTIMER p : s.timers)
        if (p->DueTime < t) {
            t = p->DueTime;
            *pf = true;
        }
    return t;
}

}  // namespace

VOID KeInitializeTimerEx(PKTIMER Timer, TIMER_TYPE Type)
{
    std::memset(Timer, 0, sizeof *Timer);
    Timer->Header.Type =
        Type == SynchronizationTimer ? KV_OBJ_SYNCHRONIZATION_TIMER : KV_OBJ_NOTIFICATION_TIMER;
}

VOID KeInitializeTimer(PKTIMER Timer) { KeInitializeTimerEx(Timer, NotificationTimer); }

BOOLEAN KeSetTimerEx(PKTIMER Timer, LARGE_INTEGER DueTime, LONG Period, PKDPC Dpc)
{
    State& s = cur();
    uint64_t now = kvclock::now100ns();
    uint64_t due = DueTime.QuadPart < 0 ? now + uint64_t(-DueTime.QuadPart)
                   : DueTime.QuadPart == 0 ? now
                                           : uint64_t(DueTime.QuadPart);
    BOOLEAN fWas;
    {
        std::lock_guard<std::mutex> lk(s.timerMtx);
        fWas = Timer->Inserted ? TRUE : FALSE;
        Timer->DueTime = due;
        Timer->Period = Period;
        Timer->Dpc = Dpc;
        Timer->Header.SignalState = 0;
        if (!Timer->Inserted) {
            Timer->Inserted = 1;
            s.timers.push_back(Timer);
        }
    }
    if (due <= now)
        fireOne(s, now);  // a due time already passed expires at once
    return fWas;
}

BOOLEAN KeSetTimer(PKTIMER Timer, LARGE_INTEGER DueTime, PKDPC Dpc)
{
    return KeSetTimerEx(Timer, DueTime, 0, Dpc);
}

BOOLEAN KeCancelTimer(PKTIMER Timer)
{
    State& s = cur();
    std::lock_guard<std::mutex> lk(s.timerMtx);
    if (!Timer->Inserted)
        return FALSE;
    s.timers.erase(std::remove(s.timers.begin(), s.timers.end(), Timer), s.timers.end());
    Timer->Inserted = 0;
    return TRUE;
}

BOOLEAN KeReadStateTimer(PKTIMER Timer)
{
    std::lock_guard<std::mutex> lk(dispMtx());
    return Timer->Header.SignalState ? TRUE : FALSE;
}

namespace kstub {

void Kernel::runDueTimers()
{
    uint64_t now = kvclock::now100ns();
    for (int guard = 0; guard < 100000 && fireOne(*_ps, now); ++guard) {
    }
}

void Kernel::advance100ns(uint64_t dt)
{
    if (!kvclock::isManual())
        kvclock::setManual100ns(kvclock::now100ns());
    uint64_t target = kvclock::now100ns() + dt;
    for (;;) {
        bool f = false;
        uint64_t due = nextDue(*_ps, &f);
        if (!f || due > target)
            break;
        if (due > kvclock::now100ns())
            kvclock::setManual100ns(due);
        fireOne(*_ps, due);
    }
    kvclock::setManual100ns(target);
}

void Kernel::advanceMs(uint64_t ms) { advance100ns(ms * kvclock::kUnitsPerMs); }

}  // namespace kstub

// ---------------------------------------------------------------------------
// Interrupts.
NTSTATUS IoConnectInterrupt(PKINTERRUPT* InterruptObject, PKSERVICE_ROUTINE ServiceRoutine,
                            PVOID ServiceContext, PKSPIN_LOCK, ULONG Vector, KIRQL Irql,
                            KIRQL SynchronizeIrql, KINTERRUPT_MODE InterruptMode,
                            BOOLEAN ShareVector, KAFFINITY, BOOLEAN)
{
    NTSTATUS st = STATUS_SUCCESS;
    if (takeFault(Fault::ConnectInterrupt, &st))
        return st;
    if (!InterruptObject || !ServiceRoutine)
        return STATUS_INVALID_PARAMETER;
    State& s = cur();
    std::lock_guard<std::mutex> lk(s.intrMtx);
    for (const auto& pi : s.interrupts)
        if (pi->fConnected && pi->vector == Vector && (!pi->fShare || !ShareVector))
            return STATUS_INVALID_PARAMETER;  // vector taken and not shared
    auto pi = std::make_unique<_KINTERRUPT>();
    pi->pfnIsr = ServiceRoutine;
    pi->pvContext = ServiceContext;
    pi->vector = Vector;
    pi->irql = Irql > DISPATCH_LEVEL ? Irql : KIRQL(DISPATCH_LEVEL + 1);
    pi->syncIrql = SynchronizeIrql > pi->irql ? SynchronizeIrql : pi->irql;
    pi->mode = InterruptMode;
    pi->fShare = ShareVector;
    pi->fConnected = true;
    *InterruptObject = pi.get();
    s.interrupts.push_back(std::move(pi));
    return STATUS_SUCCESS;
}

VOID IoDisconnectInterrupt(PKINTERRUPT InterruptObject)
{
    State& s = cur();
    if (InterruptObject->owner.load() == std::this_thread::get_id())
        fatal("IoDisconnectInterrupt while the thread holds that interrupt's lock");
    {
        std::lock_guard<std::mutex> lk(s.intrMtx);
        if (!InterruptObject->fConnected)
            fatal("IoDisconnectInterrupt of an interrupt that is not connected");
        InterruptObject->fConnected = false;
    }
    // A service routine or synchronised routine that runs now ends first;
    // none starts after this.
    std::lock_guard<std::mutex> lkRunning(InterruptObject->lock);
}

namespace {

// Holds an interrupt object's lock at its synchronize level. An object that
// is not connected (or got disconnected while the lock was awaited) stops
// the test, unless the caller asked to be told instead (held() false).
struct IntrLock {
    PKINTERRUPT pi;
    KIRQL old = 0;
    bool fHeld = false;
    IntrLock(PKINTERRUPT p, const char* what, bool fDropDisconnected = false) : pi(p)
    {
        if (!fDropDisconnected && !pi->fConnected)
            fatal(std::string(what) + " on a disconnected interrupt object");
        if (pi->owner.load() == std::this_thread::get_id())
            fatal(std::string(what) + " while the thread holds that interrupt's lock already");
        if (irql() > pi->syncIrql)
            fatal(std::string(what) + " above the interrupt's level");
        pi->lock.lock();
        if (!pi->fConnected) {
            pi->lock.unlock();
            if (!fDropDisconnected)
                fatal(std::string(what) + " on a disconnected interrupt object");
            return;
        }
        fHeld = true;
        pi->owner.store(std::this_thread::get_id());
        old = irql();
        setIrql(pi->syncIrql);
    }
    ~IntrLock()
    {
        if (!fHeld)
            return;
        setIrql(old);
        pi->owner.store(std::thread::id());
        pi->lock.unlock();
        if (old < DISPATCH_LEVEL)
            drainDpcs();
    }
    bool held() const { return fHeld; }
};

}  // namespace

BOOLEAN KeSynchronizeExecution(PKINTERRUPT Interrupt, PKSYNCHRONIZE_ROUTINE SynchronizeRoutine,
                               PVOID SynchronizeContext)
{
    if (!Interrupt)
        fatal("KeSynchronizeExecution without an interrupt object");
    IntrLock lk(Interrupt, "KeSynchronizeExecution");
    DriverCall dc;
    return SynchronizeRoutine(SynchronizeContext);
}

KIRQL KeAcquireInterruptSpinLock(PKINTERRUPT Interrupt)
{
    if (!Interrupt->fConnected)
        fatal("KeAcquireInterruptSpinLock on a disconnected interrupt object");
    if (Interrupt->owner.load() == std::this_thread::get_id())
        fatal("KeAcquireInterruptSpinLock twice");
    Interrupt->lock.lock();
    if (!Interrupt->fConnected)
        fatal("KeAcquireInterruptSpinLock on a disconnected interrupt object");
    Interrupt->owner.store(std::this_thread::get_id());
    KIRQL old = irql();
    setIrql(Interrupt->syncIrql);
    return old;
}

VOID KeReleaseInterruptSpinLock(PKINTERRUPT Interrupt, KIRQL OldIrql)
{
    setIrql(OldIrql);
    Interrupt->owner.store(std::thread::id());
    Interrupt->lock.unlock();
    if (OldIrql < DISPATCH_LEVEL)
        drainDpcs();
}

bool kstub::Kernel::raiseInterrupt(ULONG vector)
{
    std::vector<PKINTERRUPT> list;
    {
        std::lock_guard<std::mutex> lk(_ps->intrMtx);
        for (const auto& pi : _ps->interrupts)
            if (pi->fConnected && pi->vector == vector)
                list.push_back(pi.get());
    }
    bool fClaimed = false;
    for (PKINTERRUPT pi : list) {
        {
            // One disconnected since the list was taken gets nothing.
            IntrLock lk(pi, "interrupt", true);
            if (!lk.held())
                continue;
            DriverCall dc;
            KIRQL k = irql();
            setIrql(pi->irql);
            fClaimed = pi->pfnIsr(pi, pi->pvContext) != FALSE;
            setIrql(k);
        }
        if (fClaimed)
            break;
    }
    drainDpcs();
    return fClaimed;
}

// ---------------------------------------------------------------------------
// Ports.
namespace {

uint32_t portRead(uintptr_t addr, uint8_t size)
{
    State& s = cur();
    uint16_t port = uint16_t(addr & 0xFFFF);
    Ports::ReadFn fn;
    {
        std::lock_guard<std::mutex> lk(s.portMtx);
        for (const auto& r : s.portRanges)
            if (port >= r.base && port < uint32_t(r.base) + r.count)
                fn = r.read;
    }
    uint32_t v = size == 1 ? 0xFF : size == 2 ? 0xFFFF : 0xFFFFFFFF;
    bool fHandled = bool(fn);
    if (fn)
        v = fn(port, size);
    std::lock_guard<std::mutex> lk(s.portMtx);
    s.portLog.push_back(PortAccess{port, size, false, v, fHandled});
    if (!fHandled) {
        std::lock_guard<std::mutex> lk2(s.miscMtx);
        s.problems.push_back("read of unhandled port " + std::to_string(port));
    }
    return v;
}

void portWrite(uintptr_t addr, uint8_t size, uint32_t v)
{
    State& s = cur();
    uint16_t port = uint16_t(addr & 0xFFFF);
    Ports::WriteFn fn;
    {
        std::lock_guard<std::mutex> lk(s.portMtx);
        for (const auto& r : s.portRanges)
            if (port >= r.base && port < uint32_t(r.base) + r.count)
                fn = r.write;
    }
    bool fHandled = bool(fn);
    if (fn)
        fn(port, size, v);
    std::lock_guard<std::mutex> lk(s.portMtx);
    s.portLog.push_back(PortAccess{port, size, true, v, fHandled});
    if (!fHandled) {
        std::lock_guard<std::mutex> lk2(s.miscMtx);
        s.problems.push_back("write of unhandled port " + std::to_string(port));
    }
}

}  // namespace

UCHAR READ_PORT_UCHAR(PUCHAR Port) { return UCHAR(portRead(reinterpret_cast<uintptr_t>(Port), 1)); }
USHORT READ_PORT_USHORT(PUSHORT Port) { return USHORT(portRead(reinterpret_cast<uintptr_t>(Port), 2)); }
ULONG READ_PORT_ULONG(PULONG Port) { return portRead(reinterpret_cast<uintptr_t>(Port), 4); }
VOID WRITE_PORT_UCHAR(PUCHAR Port, UCHAR Value) { portWrite(reinterpret_cast<uintptr_t>(Port), 1, Value); }
VOID WRITE_PORT_USHORT(PUSHORT Port, USHORT Value) { portWrite(reinterpret_cast<uintptr_t>(Port), 2, Value); }
VOID WRITE_PORT_ULONG(PULONG Port, ULONG Value) { portWrite(reinterpret_cast<uintptr_t>(Port), 4, Value); }

namespace kstub {

void Ports::map(uint16_t base, uint16_t count, ReadFn read, WriteFn write)
{
    std::lock_guard<std::mutex> lk(_s.portMtx);
    _s.portRanges.push_back(detail::PortRange{base, count, std::move(read), std::move(write)});
}

std::vector<PortAccess> Ports::log() const
{
    std::lock_guard<std::mutex> lk(_s.portMtx);
    return _s.portLog.toVector();
}

void Ports::clearLog()
{
    std::lock_guard<std::mutex> lk(_s.portMtx);
    _s.portLog.clear();
}

}  // namespace kstub
