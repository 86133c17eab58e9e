// Requests: allocation, passing down, completion with completion routines,
// cancellation, and the requests the I/O manager builds and waits for.
#include <cstdlib>
#include <cstring>

#include "state.h"

using namespace kstub;
using namespace kstub::detail;

namespace kstub::detail {

PIRP allocIrp(CCHAR stackSize, KvIrpPrivate::Kind kind)
{
    if (stackSize < 1)
        stackSize = 1;
    std::size_t cb = sizeof(IRP) + sizeof(IO_STACK_LOCATION) * std::size_t(stackSize);
    void* p = std::calloc(1, cb);
    if (!p)
        fatal("out of memory");
    auto irp = static_cast<PIRP>(p);
    irp->Type = 6;
    irp->Size = USHORT(cb);
    irp->StackCount = stackSize;
    irp->CurrentLocation = CCHAR(stackSize + 1);
    auto* stack = reinterpret_cast<PIO_STACK_LOCATION>(irp + 1);
    irp->Tail.Overlay.CurrentStackLocation = stack + stackSize;
    irp->IoManager = new KvIrpPrivate;
    irp->IoManager->kind = kind;
    State& s = cur();
    std::lock_guard<std::mutex> lk(s.objMtx);
    s.irps.insert(irp);
    return irp;
}

void giveSystemBuffer(PIRP irp, ULONG cb, const void* in, ULONG cbIn, PVOID out, ULONG cbOut)
{
    void* p = std::calloc(1, cb);
    if (in && cbIn)
        std::memcpy(p, in, cbIn);
    irp->AssociatedIrp.SystemBuffer = p;
    irp->IoManager->pvSystemBuffer = p;
    irp->IoManager->pvCopyBack = out;
    irp->IoManager->cbCopyBack = cbOut;
}

void freeIrp(PIRP irp)
{
    State& s = cur();
    {
        std::lock_guard<std::mutex> lk(s.objMtx);
        if (s.irps.erase(irp) == 0)
            fatal("IoFreeIrp of a request that is not allocated (freed twice?)");
    }
    if (irp->IoManager) {
        std::free(irp->IoManager->pvSystemBuffer);
        delete irp->IoManager;
    }
    std::free(irp);
}

namespace {

// After a request sent by the I/O manager has completed: a dispatch routine
// returns STATUS_PENDING exactly when it marked the request pending, and
// else the status it completed the request with.
void checkDispatchRules(PIRP irp, NTSTATUS stReturned)
{
    // At the top of a completed request PendingReturned is the mark of the
    // driver it was sent to.
    bool fMarked = irp->PendingReturned != FALSE;
    NTSTATUS stCompleted = irp->IoManager->stCompleted;
    if (stReturned == STATUS_PENDING && !fMarked)
        problem("a dispatch routine returned STATUS_PENDING without marking the request pending");
    else if (stReturned != STATUS_PENDING && fMarked)
        problem(formatString("a dispatch routine marked the request pending and returned 0x%08X",
                             unsigned(stReturned)));
    if (stReturned != STATUS_PENDING && stReturned != stCompleted)
        problem(formatString("a dispatch routine returned 0x%08X but completed with 0x%08X",
                             unsigned(stReturned), unsigned(stCompleted)));
}

}  // namespace

NTSTATUS sendAndWait(PDEVICE_OBJECT dev, PIRP irp, const char* what)
{
    KvIrpPrivate* pv = irp->IoManager;
    NTSTATUS st = IofCallDriver(dev, irp);
    {
        std::unique_lock<std::mutex> lk(dispMtx());
        if (st != STATUS_PENDING && !pv->fDone)
            fatal(formatString("a dispatch routine returned 0x%08X without completing the request",
                               unsigned(st)));
        waitWatched(lk, what, [&] { return pv->fDone; });
    }
    checkDispatchRules(irp, st);
    return st == STATUS_PENDING || pv->fCopyBackFailed ? irp->IoStatus.Status : st;
}

NTSTATUS callAndWait(PDEVICE_OBJECT dev, PIRP irp, ULONG_PTR* pInfo)
{
    NTSTATUS st = sendAndWait(dev, irp, "a request");
    if (pInfo)
        *pInfo = irp->IoStatus.Information;
    freeIrp(irp);
    return st;
}

}  // namespace kstub::detail

PIRP IoAllocateIrp(CCHAR StackSize, BOOLEAN)
{
    if (takeFault(Fault::AllocateIrp))
        return nullptr;
    return allocIrp(StackSize, KvIrpPrivate::None);
}

VOID IoFreeIrp(PIRP Irp) { freeIrp(Irp); }

VOID IoReuseIrp(PIRP Irp, NTSTATUS Status)
{
    CCHAR n = Irp->StackCount;
    KvIrpPrivate* pv = Irp->IoManager;
    std::memset(Irp, 0, sizeof(IRP) + sizeof(IO_STACK_LOCATION) * std::size_t(n));
    Irp->Type = 6;
    Irp->StackCount = n;
    Irp->CurrentLocation = CCHAR(n + 1);
    Irp->Tail.Overlay.CurrentStackLocation = reinterpret_cast<PIO_STACK_LOCATION>(Irp + 1) + n;
    Irp->IoStatus.Status = Status;
    Irp->IoManager = pv;
}

PIRP IoBuildDeviceIoControlRequest(ULONG IoControlCode, PDEVICE_OBJECT DeviceObject,
                                   PVOID InputBuffer, ULONG InputBufferLength, PVOID OutputBuffer,
                                   ULONG OutputBufferLength, BOOLEAN InternalDeviceIoControl,
                                   PKEVENT Event, PIO_STATUS_BLOCK IoStatusBlock)
{
    if (takeFault(Fault::BuildDeviceIoControlRequest))
        return nullptr;
    PIRP irp = allocIrp(DeviceObject->StackSize, KvIrpPrivate::Threaded);
    irp->RequestorMode = KernelMode;
    irp->UserIosb = IoStatusBlock;
    irp->UserEvent = Event;
    irp->IoStatus.Status = STATUS_SUCCESS;
    PIO_STACK_LOCATION sl = IoGetNextIrpStackLocation(irp);
    sl->MajorFunction = InternalDeviceIoControl ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
    sl->Parameters.DeviceIoControl.IoControlCode = IoControlCode;
    sl->Parameters.DeviceIoControl.InputBufferLength = InputBufferLength;
    sl->Parameters.DeviceIoControl.OutputBufferLength = OutputBufferLength;
    switch (METHOD_FROM_CTL_CODE(IoControlCode)) {
    case METHOD_BUFFERED: {
        ULONG cb = InputBufferLength > OutputBufferLength ? InputBufferLength : OutputBufferLength;
        if (cb)
            giveSystemBuffer(irp, cb, InputBuffer, InputBufferLength, OutputBuffer, OutputBufferLength);
        break;
    }
    default:
        sl->Parameters.DeviceIoControl.Type3InputBuffer = InputBuffer;
        irp->UserBuffer = OutputBuffer;
        break;
    }
    return irp;
}

NTSTATUS IofCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    if (!DeviceObject || !Irp)
        fatal("IoCallDriver without a device or a request");
    if (Irp->CurrentLocation <= 1)
        fatal("IoCallDriver: the request has no stack location left for the next driver");
    if (KeGetCurrentIrql() > DISPATCH_LEVEL)
        fatal("IoCallDriver above DISPATCH_LEVEL");
    Irp->CurrentLocation--;
    Irp->Tail.Overlay.CurrentStackLocation--;
    PIO_STACK_LOCATION sl = IoGetCurrentIrpStackLocation(Irp);
    sl->DeviceObject = DeviceObject;
    PDRIVER_DISPATCH pfn = DeviceObject->DriverObject->MajorFunction[sl->MajorFunction];
    DriverCall dc;
    return pfn(DeviceObject, Irp);
}

VOID IofCompleteRequest(PIRP Irp, CCHAR)
{
    if (Irp->CurrentLocation > Irp->StackCount)
        fatal("IoCompleteRequest of a request that is completed already");
    if (Irp->IoStatus.Status == STATUS_PENDING)
        fatal("IoCompleteRequest with the status STATUS_PENDING");
    if (__atomic_load_n(&Irp->CancelRoutine, __ATOMIC_ACQUIRE))
        fatal("IoCompleteRequest of a request that still has a cancel routine");
    while (Irp->CurrentLocation <= Irp->StackCount) {
        PIO_STACK_LOCATION sp = IoGetCurrentIrpStackLocation(Irp);
        Irp->PendingReturned = (sp->Control & SL_PENDING_RETURNED) ? TRUE : FALSE;
        PIO_COMPLETION_ROUTINE pfn = sp->CompletionRoutine;
        PVOID ctx = sp->Context;
        UCHAR control = sp->Control;
        std::memset(sp, 0, sizeof *sp);
        Irp->CurrentLocation++;
        Irp->Tail.Overlay.CurrentStackLocation++;
        bool fOk = NT_SUCCESS(Irp->IoStatus.Status);
        bool fInvoke = pfn && ((fOk && (control & SL_INVOKE_ON_SUCCESS)) ||
                               (!fOk && (control & SL_INVOKE_ON_ERROR)) ||
                               (__atomic_load_n(&Irp->Cancel, __ATOMIC_ACQUIRE) &&
                                (control & SL_INVOKE_ON_CANCEL)));
        if (fInvoke) {
            PDEVICE_OBJECT dev = Irp->CurrentLocation > Irp->StackCount
                                     ? nullptr
                                     : IoGetCurrentIrpStackLocation(Irp)->DeviceObject;
            NTSTATUS st;
            {
                DriverCall dc;
                st = pfn(dev, Irp, ctx);
            }
            if (st == STATUS_MORE_PROCESSING_REQUIRED)
                return;  // the routine keeps the request
        } else if (Irp->PendingReturned && Irp->CurrentLocation <= Irp->StackCount) {
            IoMarkIrpPending(Irp);
        }
    }
    // At the top: the I/O manager's part.
    KvIrpPrivate* pv = Irp->IoManager;
    if (!pv || pv->kind == KvIrpPrivate::None) {
        problem("a request that its driver allocated was completed to the top (no completion "
                "routine kept it)");
        return;
    }
    // A buffered answer goes back unless the status is an error: a warning
    // such as STATUS_BUFFER_OVERFLOW brings a partial answer.
    bool fCopyBack = pv->pvCopyBack && pv->pvSystemBuffer && !NT_ERROR(Irp->IoStatus.Status);
    if (pv->kind == KvIrpPrivate::Threaded) {
        if (fCopyBack) {
            ULONG_PTR cb = Irp->IoStatus.Information;
            if (cb > pv->cbCopyBack)
                cb = pv->cbCopyBack;
            std::memcpy(pv->pvCopyBack, pv->pvSystemBuffer, cb);
        }
        if (Irp->UserIosb)
            *Irp->UserIosb = Irp->IoStatus;
        PKEVENT pev = Irp->UserEvent;
        freeIrp(Irp);
        if (pev)
            KeSetEvent(pev, IO_NO_INCREMENT, FALSE);
        return;
    }
    // A waited request: copy a buffered answer back, let go of the caller's
    // locked buffer, then wake the waiter, which frees the request.
    pv->stCompleted = Irp->IoStatus.Status;
    if (fCopyBack) {
        ULONG_PTR cb = Irp->IoStatus.Information;
        if (cb > pv->cbCopyBack) {
            problem(formatString("a request was completed with Information %u, more than its "
                                 "buffer of %u bytes",
                                 unsigned(cb), unsigned(pv->cbCopyBack)));
            cb = pv->cbCopyBack;
            Irp->IoStatus.Information = cb;
        }
        if (!pv->fUserCopyBack) {
            std::memcpy(pv->pvCopyBack, pv->pvSystemBuffer, cb);
        } else if (!copyToUser(pv->pvCopyBack, pv->pvSystemBuffer, cb)) {
            // The caller's buffer went away while the request was in flight:
            // the copy fails as under the platform's exception handler.
            pv->fCopyBackFailed = true;
            Irp->IoStatus.Status = STATUS_ACCESS_VIOLATION;
            Irp->IoStatus.Information = 0;
        }
    }
    if (pv->fCallerMdl) {
        for (PMDL m = Irp->MdlAddress, next; m; m = next) {
            next = m->Next;
            MmUnlockPages(m);
            IoFreeMdl(m);
        }
        Irp->MdlAddress = nullptr;
    }
    std::lock_guard<std::mutex> lk(dispMtx());
    pv->fDone = true;
    dispCv().notify_all();
}

VOID IoAcquireCancelSpinLock(PKIRQL Irql) { KeAcquireSpinLock(&cur().cancelLock, Irql); }

VOID IoReleaseCancelSpinLock(KIRQL Irql) { KeReleaseSpinLock(&cur().cancelLock, Irql); }

BOOLEAN IoCancelIrp(PIRP Irp)
{
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    // Atomic: a completion may test the flag without the cancel spin lock.
    __atomic_store_n(&Irp->Cancel, BOOLEAN(TRUE), __ATOMIC_RELEASE);
    PDRIVER_CANCEL pfn = IoSetCancelRoutine(Irp, nullptr);
    if (!pfn) {
        IoReleaseCancelSpinLock(irql);
        return FALSE;
    }
    Irp->CancelIrql = irql;
    PDEVICE_OBJECT dev = IoGetCurrentIrpStackLocation(Irp)->DeviceObject;
    DriverCall dc;
    pfn(dev, Irp);  // releases the cancel spin lock
    return TRUE;
}
