// Interrupt request levels, spin locks, events, mutexes, waits and time.
#include <set>

#include "kv_clock.h"
#include "state.h"

using namespace kstub;
using namespace kstub::detail;

namespace {

void needBelowDispatch(const char* what)
{
    if (irql() >= DISPATCH_LEVEL)
        fatal(std::string(what) + " at IRQL " + std::to_string(int(irql())) +
              " (needs less than DISPATCH_LEVEL)");
}

void* threadToken()
{
    thread_local char t_token;
    return &t_token;
}

// True when the object is signalled for the calling thread; takes it
// (synchronization event, mutex) when it is.
bool trySatisfy(DISPATCHER_HEADER* ph)
{
    switch (ph->Type) {
    case KV_OBJ_NOTIFICATION_EVENT:
    case KV_OBJ_NOTIFICATION_TIMER:
        return ph->SignalState != 0;
    case KV_OBJ_SYNCHRONIZATION_EVENT:
    case KV_OBJ_SYNCHRONIZATION_TIMER:
        if (ph->SignalState == 0)
            return false;
        ph->SignalState = 0;
        return true;
    case KV_OBJ_MUTEX: {
        auto* pm = reinterpret_cast<PKMUTEX>(ph);
        if (pm->OwnerThread == threadToken()) {
            ++pm->RecursionCount;
            return true;
        }
        if (pm->OwnerThread)
            return false;
        pm->OwnerThread = threadToken();
        pm->RecursionCount = 1;
        ph->SignalState = 0;
        return true;
    }
    }
    fatal("KeWaitForSingleObject on an object that is not an event, mutex or timer");
}

// The objects that threads are blocked on, one entry a thread (under the
// dispatcher lock).
std::multiset<const void*>& blockedOn()
{
    static std::multiset<const void*> s_mp;
    return s_mp;
}

// The calling thread is blocked on the object while this lives; made and
// destroyed under the dispatcher lock.
class Blocked {
public:
    explicit Blocked(const void* pv) : _it(blockedOn().insert(pv)) {}
    ~Blocked() { blockedOn().erase(_it); }
    Blocked(const Blocked&) = delete;
    Blocked& operator=(const Blocked&) = delete;

private:
    std::multiset<const void*>::iterator _it;
};

}  // namespace

KIRQL KeGetCurrentIrql(void) { return irql(); }

VOID KeRaiseIrql(KIRQL NewIrql, PKIRQL OldIrql)
{
    if (NewIrql < irql())
        fatal("KeRaiseIrql to a lower level");
    *OldIrql = irql();
    setIrql(NewIrql);
}

VOID KeLowerIrql(KIRQL NewIrql)
{
    if (NewIrql > irql())
        fatal("KeLowerIrql to a higher level");
    setIrql(NewIrql);
    if (NewIrql < DISPATCH_LEVEL)
        drainDpcs();
}

KIRQL KeRaiseIrqlToDpcLevel(void)
{
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    return old;
}

VOID KeInitializeSpinLock(PKSPIN_LOCK SpinLock) { *SpinLock = 0; }

VOID KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK SpinLock)
{
    auto self = reinterpret_cast<ULONG_PTR>(threadToken());
    if (__atomic_load_n(SpinLock, __ATOMIC_SEQ_CST) == self)
        fatal("spin lock acquired twice by one thread");
    ULONG_PTR expected = 0;
    while (!__atomic_compare_exchange_n(SpinLock, &expected, self, false, __ATOMIC_ACQUIRE,
                                        __ATOMIC_RELAXED)) {
        expected = 0;
        std::this_thread::yield();
    }
}

VOID KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK SpinLock)
{
    if (__atomic_load_n(SpinLock, __ATOMIC_SEQ_CST) != reinterpret_cast<ULONG_PTR>(threadToken()))
        fatal("spin lock released by a thread that does not hold it");
    __atomic_store_n(SpinLock, ULONG_PTR(0), __ATOMIC_RELEASE);
}

VOID KeAcquireSpinLock(PKSPIN_LOCK SpinLock, PKIRQL OldIrql)
{
    KeRaiseIrql(irql() > DISPATCH_LEVEL ? irql() : KIRQL(DISPATCH_LEVEL), OldIrql);
    KeAcquireSpinLockAtDpcLevel(SpinLock);
}

VOID KeReleaseSpinLock(PKSPIN_LOCK SpinLock, KIRQL NewIrql)
{
    KeReleaseSpinLockFromDpcLevel(SpinLock);
    KeLowerIrql(NewIrql);
}

VOID KeInitializeEvent(PRKEVENT Event, EVENT_TYPE Type, BOOLEAN State)
{
    std::lock_guard<std::mutex> lk(dispMtx());
    std::memset(Event, 0, sizeof *Event);
    Event->Header.Type = Type == SynchronizationEvent ? KV_OBJ_SYNCHRONIZATION_EVENT
                                                      : KV_OBJ_NOTIFICATION_EVENT;
    Event->Header.SignalState = State ? 1 : 0;
}

LONG KeSetEvent(PRKEVENT Event, KPRIORITY, BOOLEAN)
{
    std::lock_guard<std::mutex> lk(dispMtx());
    LONG old = Event->Header.SignalState;
    Event->Header.SignalState = 1;
    dispCv().notify_all();
    return old;
}

VOID KeClearEvent(PRKEVENT Event)
{
    std::lock_guard<std::mutex> lk(dispMtx());
    Event->Header.SignalState = 0;
}

LONG KeResetEvent(PRKEVENT Event)
{
    std::lock_guard<std::mutex> lk(dispMtx());
    LONG old = Event->Header.SignalState;
    Event->Header.SignalState = 0;
    return old;
}

LONG KeReadStateEvent(PRKEVENT Event)
{
    std::lock_guard<std::mutex> lk(dispMtx());
    return Event->Header.SignalState;
}

VOID KeInitializeMutex(PRKMUTEX Mutex, ULONG)
{
    std::lock_guard<std::mutex> lk(dispMtx());
    std::memset(Mutex, 0, sizeof *Mutex);
    Mutex->Header.Type = KV_OBJ_MUTEX;
    Mutex->Header.SignalState = 1;
}

LONG KeReleaseMutex(PRKMUTEX Mutex, BOOLEAN)
{
    std::lock_guard<std::mutex> lk(dispMtx());
    if (Mutex->OwnerThread != threadToken())
        fatal("KeReleaseMutex by a thread that does not own the mutex");
    LONG old = Mutex->Header.SignalState;
    if (--Mutex->RecursionCount == 0) {
        Mutex->OwnerThread = nullptr;
        Mutex->Header.SignalState = 1;
        dispCv().notify_all();
    }
    return old;
}

VOID ExInitializeFastMutex(PFAST_MUTEX FastMutex)
{
    std::lock_guard<std::mutex> lk(dispMtx());
    FastMutex->Count = 1;
    FastMutex->Owner = nullptr;
    FastMutex->OldIrql = PASSIVE_LEVEL;
}

VOID ExAcquireFastMutex(PFAST_MUTEX FastMutex)
{
    if (irql() > APC_LEVEL)
        fatal("ExAcquireFastMutex above APC_LEVEL");
    std::unique_lock<std::mutex> lk(dispMtx());
    if (FastMutex->Owner == threadToken())
        fatal("ExAcquireFastMutex: the thread owns the mutex already");
    waitWatched(lk, "ExAcquireFastMutex", [&] { return FastMutex->Count == 1; });
    FastMutex->Count = 0;
    FastMutex->Owner = threadToken();
    FastMutex->OldIrql = irql();
    setIrql(APC_LEVEL);
}

VOID ExReleaseFastMutex(PFAST_MUTEX FastMutex)
{
    KIRQL old;
    {
        std::lock_guard<std::mutex> lk(dispMtx());
        if (FastMutex->Owner != threadToken())
            fatal("ExReleaseFastMutex by a thread that does not own the mutex");
        FastMutex->Count = 1;
        FastMutex->Owner = nullptr;
        old = FastMutex->OldIrql;
        dispCv().notify_all();
    }
    setIrql(old);
}

NTSTATUS KeWaitForSingleObject(PVOID Object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN,
                               PLARGE_INTEGER Timeout)
{
    auto* ph = static_cast<DISPATCHER_HEADER*>(Object);
    bool fPoll = Timeout && Timeout->QuadPart == 0;
    if (!fPoll)
        needBelowDispatch("KeWaitForSingleObject");
    else if (irql() > DISPATCH_LEVEL)
        fatal("KeWaitForSingleObject above DISPATCH_LEVEL");
    std::unique_lock<std::mutex> lk(dispMtx());
    if (trySatisfy(ph))
        return STATUS_SUCCESS;
    if (fPoll)
        return STATUS_TIMEOUT;
    Blocked blocked(ph);
    if (!Timeout) {
        waitWatched(lk, "KeWaitForSingleObject", [&] { return trySatisfy(ph); });
        return STATUS_SUCCESS;
    }
    uint64_t now = kvclock::now100ns();
    uint64_t dt = Timeout->QuadPart < 0 ? uint64_t(-Timeout->QuadPart)
                  : uint64_t(Timeout->QuadPart) > now ? uint64_t(Timeout->QuadPart) - now
                                                      : 0;
    if (kvclock::isManual()) {
        // Nothing moves the manual clock while this thread waits: the time-out
        // passes at once unless another thread signals within a moment.
        if (dispCv().wait_for(lk, std::chrono::milliseconds(1), [&] { return trySatisfy(ph); }))
            return STATUS_SUCCESS;
        kvclock::advance100ns(dt);
        return STATUS_TIMEOUT;
    }
    if (dispCv().wait_for(lk, std::chrono::microseconds(dt / 10), [&] { return trySatisfy(ph); }))
        return STATUS_SUCCESS;
    return STATUS_TIMEOUT;
}

NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER Interval)
{
    needBelowDispatch("KeDelayExecutionThread");
    LONGLONG q = Interval ? Interval->QuadPart : 0;
    {
        State& s = cur();
        std::lock_guard<std::mutex> lk(s.timerMtx);
        s.delays.push_back(q);
    }
    uint64_t now = kvclock::now100ns();
    uint64_t dt = q < 0 ? uint64_t(-q) : uint64_t(q) > now ? uint64_t(q) - now : 0;
    kvclock::delay100ns(dt);
    return STATUS_SUCCESS;
}

ULONG KeQueryTimeIncrement(void)
{
    State& s = cur();
    std::lock_guard<std::mutex> lk(s.timerMtx);
    return s.timeIncrement;
}

VOID KeQueryTickCount(PLARGE_INTEGER CurrentCount)
{
    CurrentCount->QuadPart = LONGLONG(kvclock::now100ns() / KeQueryTimeIncrement());
}

ULONGLONG KeQueryInterruptTime(void) { return kvclock::now100ns(); }

VOID KeQuerySystemTime(PLARGE_INTEGER CurrentTime)
{
    // A fixed boot time (1 January 2026, in 100 ns units since 1601) plus the
    // time since start.
    const ULONGLONG boot = 133'800'000'000'000'000ull;
    CurrentTime->QuadPart = LONGLONG(boot + kvclock::now100ns());
}

namespace kstub {

void Kernel::setTimeIncrement(ULONG units100ns)
{
    std::lock_guard<std::mutex> lk(_ps->timerMtx);
    _ps->timeIncrement = units100ns ? units100ns : 1;
}

std::size_t Kernel::waitersOn(const void* object) const
{
    std::lock_guard<std::mutex> lk(dispMtx());
    return blockedOn().count(object);
}

std::vector<LONGLONG> Kernel::delays() const
{
    std::lock_guard<std::mutex> lk(_ps->timerMtx);
    return _ps->delays.toVector();
}

}  // namespace kstub
