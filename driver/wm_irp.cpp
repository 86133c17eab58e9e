// The two request routines of every dispatch routine.
#include "wm.h"

NTSTATUS completeIrp(PIRP pIrp, NTSTATUS st, ULONG_PTR uInfo)
{
    pIrp->IoStatus.Status = st;
    pIrp->IoStatus.Information = uInfo;
    IoCompleteRequest(pIrp, IO_NO_INCREMENT);
    return st;
}

namespace {

// Wakes the waiting forwarder only when the lower driver returned pending;
// the request always stays with the forwarder.
NTSTATUS onForwarded(PDEVICE_OBJECT, PIRP pIrp, PVOID pv)
{
    if (pIrp->PendingReturned)
        KeSetEvent(static_cast<PKEVENT>(pv), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

}  // namespace

NTSTATUS forwardIrpSync(PDEVICE_OBJECT pdoLower, PIRP pIrp)
{
    KEVENT ev;
    KeInitializeEvent(&ev, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(pIrp);
    IoSetCompletionRoutine(pIrp, onForwarded, &ev, TRUE, TRUE, TRUE);
    NTSTATUS st = IoCallDriver(pdoLower, pIrp);
    if (st == STATUS_PENDING) {
        KeWaitForSingleObject(&ev, Executive, KernelMode, FALSE, nullptr);
        st = pIrp->IoStatus.Status;
    }
    return st;
}
