// Remove locks: a count of the holders, one more until the removal begins,
// and the event the removal waits on until the last holder has left.
#include "state.h"

using namespace kstub;
using namespace kstub::detail;

namespace {

void checkSize(ULONG cb, const char* what)
{
    if (cb != sizeof(IO_REMOVE_LOCK))
        fatal(std::string(what) + ": a lock of " + std::to_string(cb) + " bytes, not " +
              std::to_string(sizeof(IO_REMOVE_LOCK)));
}

bool isRemoved(const IO_REMOVE_LOCK* pl)
{
    return __atomic_load_n(&pl->Removed, __ATOMIC_SEQ_CST) != 0;
}

// One holder less; the last one of a removed lock lets the removal go on.
void leave(PIO_REMOVE_LOCK pl, const char* what)
{
    LONG c = InterlockedDecrement(&pl->IoCount);
    if (c < 0 || (c == 0 && !isRemoved(pl)))
        problem(std::string(what) + " without a matching acquire");
    if (c == 0)
        KeSetEvent(&pl->RemoveEvent, IO_NO_INCREMENT, FALSE);
}

}  // namespace

VOID IoInitializeRemoveLockEx(PIO_REMOVE_LOCK Lock, ULONG, ULONG, ULONG, ULONG RemlockSize)
{
    checkSize(RemlockSize, "IoInitializeRemoveLock");
    __atomic_store_n(&Lock->Removed, BOOLEAN(FALSE), __ATOMIC_SEQ_CST);
    __atomic_store_n(&Lock->IoCount, 1, __ATOMIC_SEQ_CST);
    KeInitializeEvent(&Lock->RemoveEvent, NotificationEvent, FALSE);
}

NTSTATUS IoAcquireRemoveLockEx(PIO_REMOVE_LOCK RemoveLock, PVOID, PCSTR, ULONG, ULONG RemlockSize)
{
    checkSize(RemlockSize, "IoAcquireRemoveLock");
    if (InterlockedIncrement(&RemoveLock->IoCount) == 1 && !isRemoved(RemoveLock))
        problem("IoAcquireRemoveLock of a lock not initialized");
    if (!isRemoved(RemoveLock))
        return STATUS_SUCCESS;
    leave(RemoveLock, "IoAcquireRemoveLock");
    return STATUS_DELETE_PENDING;
}

VOID IoReleaseRemoveLockEx(PIO_REMOVE_LOCK RemoveLock, PVOID, ULONG RemlockSize)
{
    checkSize(RemlockSize, "IoReleaseRemoveLock");
    leave(RemoveLock, "IoReleaseRemoveLock");
}

VOID IoReleaseRemoveLockAndWaitEx(PIO_REMOVE_LOCK RemoveLock, PVOID, ULONG RemlockSize)
{
    checkSize(RemlockSize, "IoReleaseRemoveLockAndWait");
    if (KeGetCurrentIrql() != PASSIVE_LEVEL)
        fatal("IoReleaseRemoveLockAndWait above PASSIVE_LEVEL");
    if (__atomic_exchange_n(&RemoveLock->Removed, BOOLEAN(TRUE), __ATOMIC_SEQ_CST)) {
        problem("IoReleaseRemoveLockAndWait of a lock whose removal has begun already");
        return;
    }
    // The caller's own hold, then the one the lock keeps until now.
    if (InterlockedDecrement(&RemoveLock->IoCount) < 1) {
        problem("IoReleaseRemoveLockAndWait by a caller that does not hold the lock");
        InterlockedIncrement(&RemoveLock->IoCount);
    }
    if (InterlockedDecrement(&RemoveLock->IoCount) > 0)
        KeWaitForSingleObject(&RemoveLock->RemoveEvent, Executive, KernelMode, FALSE, nullptr);
}
