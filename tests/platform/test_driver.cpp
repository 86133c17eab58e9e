#include "test_driver.h"

#include <cstdio>
#include <cstring>

namespace testdrv {
namespace {

Record g_record;
int g_cDevice = 0;

struct Ext {
    PDEVICE_OBJECT lower;
    int index;
    LONG cOpen;
};

void note(PDEVICE_OBJECT, PIRP irp)
{
    PIO_STACK_LOCATION sl = IoGetCurrentIrpStackLocation(irp);
    Seen s{};
    s.major = sl->MajorFunction;
    s.minor = sl->MinorFunction;
    if (sl->FileObject) {
        s.fileName = kstub::narrow(
            std::u16string(sl->FileObject->FileName.Buffer ? sl->FileObject->FileName.Buffer : u"",
                           sl->FileObject->FileName.Length / 2));
        s.fsContext = sl->FileObject->FsContext;
    }
    if (s.major == IRP_MJ_DEVICE_CONTROL) {
        s.code = sl->Parameters.DeviceIoControl.IoControlCode;
        s.type3 = sl->Parameters.DeviceIoControl.Type3InputBuffer;
        s.cbIn = sl->Parameters.DeviceIoControl.InputBufferLength;
        s.cbOut = sl->Parameters.DeviceIoControl.OutputBufferLength;
        if (irp->AssociatedIrp.SystemBuffer)
            s.systemIn.assign(static_cast<const char*>(irp->AssociatedIrp.SystemBuffer), s.cbIn);
    }
    if (PMDL m = irp->MdlAddress) {
        s.mdlVa = MmGetMdlVirtualAddress(m);
        s.cbMdl = MmGetMdlByteCount(m);
        s.fMdlLocked = (m->MdlFlags & MDL_PAGES_LOCKED) != 0;
    }
    if (s.major == IRP_MJ_READ)
        s.cbOut = sl->Parameters.Read.Length;
    s.userBuffer = irp->UserBuffer;
    s.systemBuffer = irp->AssociatedIrp.SystemBuffer;
    s.mode = irp->RequestorMode;
    std::lock_guard<std::mutex> lk(g_record.mtx);
    g_record.seen.push_back(s);
}

NTSTATUS complete(PIRP irp, NTSTATUS st, ULONG_PTR info = 0)
{
    irp->IoStatus.Status = st;
    irp->IoStatus.Information = info;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return st;
}

NTSTATUS onCreate(PDEVICE_OBJECT dev, PIRP irp)
{
    note(dev, irp);
    PFILE_OBJECT fo = IoGetCurrentIrpStackLocation(irp)->FileObject;
    std::u16string name(fo->FileName.Buffer ? fo->FileName.Buffer : u"", fo->FileName.Length / 2);
    if (name == u"\\bad")
        return complete(irp, STATUS_NO_SUCH_DEVICE);
    auto* pe = static_cast<Ext*>(dev->DeviceExtension);
    fo->FsContext = reinterpret_cast<PVOID>(uintptr_t(0x1000 + InterlockedIncrement(&pe->cOpen)));
    return complete(irp, STATUS_SUCCESS);
}

NTSTATUS onSimple(PDEVICE_OBJECT dev, PIRP irp)
{
    note(dev, irp);
    return complete(irp, STATUS_SUCCESS);
}

NTSTATUS onRead(PDEVICE_OBJECT dev, PIRP irp)
{
    note(dev, irp);
    ULONG cb = IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length;
    const char text[] = "test driver text";
    ULONG n = cb < sizeof text - 1 ? cb : ULONG(sizeof text - 1);
    std::memcpy(irp->AssociatedIrp.SystemBuffer, text, n);
    return complete(irp, STATUS_SUCCESS, n);
}

VOID onCancel(PDEVICE_OBJECT, PIRP irp)
{
    IoReleaseCancelSpinLock(irp->CancelIrql);
    bool fFound = false;
    {
        std::lock_guard<std::mutex> lk(g_record.mtx);
        for (auto it = g_record.blocked.begin(); it != g_record.blocked.end(); ++it)
            if (*it == irp) {
                g_record.blocked.erase(it);
                fFound = true;
                break;
            }
    }
    if (fFound)
        complete(irp, STATUS_CANCELLED);
}

// True when the probe accepts [pv, pv + cb) for op (nothing is no buffer).
bool probed(PVOID pv, ULONG cb, LOCK_OPERATION op)
{
    if (!pv || cb == 0)
        return true;
    PMDL m = IoAllocateMdl(pv, cb, FALSE, FALSE, nullptr);
    bool fOk = m != nullptr;
    KV_TRY
    {
        if (m)
            MmProbeAndLockPages(m, UserMode, op);
    }
    KV_EXCEPT
    {
        fOk = false;
    }
    if (fOk)
        MmUnlockPages(m);
    if (m)
        IoFreeMdl(m);
    return fOk;
}

NTSTATUS onIoctl(PDEVICE_OBJECT dev, PIRP irp)
{
    note(dev, irp);
    PIO_STACK_LOCATION sl = IoGetCurrentIrpStackLocation(irp);
    switch (sl->Parameters.DeviceIoControl.IoControlCode) {
    case kIoctlEcho:
        return complete(irp, STATUS_SUCCESS, 0);
    case kIoctlBlock: {
        IoMarkIrpPending(irp);
        // A blocked request is listed only once its cancel routine is set;
        // the cancel routine looks for it under the same mutex. Cancel is
        // read under the cancel spin lock: a cancel before this point has
        // set it, one after it finds the cancel routine.
        std::unique_lock<std::mutex> lk(g_record.mtx);
        KIRQL irql;
        IoAcquireCancelSpinLock(&irql);
        if (!irp->Cancel) {
            IoSetCancelRoutine(irp, onCancel);
            g_record.blocked.push_back(irp);
            IoReleaseCancelSpinLock(irql);
            return STATUS_PENDING;
        }
        IoReleaseCancelSpinLock(irql);
        lk.unlock();
        complete(irp, STATUS_CANCELLED);
        return STATUS_PENDING;
    }
    case kIoctlBuffered: {
        // Answers "pong" followed by the input length, in the system buffer.
        char* p = static_cast<char*>(irp->AssociatedIrp.SystemBuffer);
        int n = std::snprintf(p, sl->Parameters.DeviceIoControl.OutputBufferLength, "pong%u",
                              unsigned(sl->Parameters.DeviceIoControl.InputBufferLength));
        return complete(irp, STATUS_SUCCESS, ULONG_PTR(n));
    }
    case kIoctlFail:
        return complete(irp, STATUS_INSUFFICIENT_RESOURCES);
    case kIoctlBufferedStatus: {
        NTSTATUS st;
        std::memcpy(&st, irp->AssociatedIrp.SystemBuffer, sizeof st);
        std::memcpy(irp->AssociatedIrp.SystemBuffer, "pong", 4);
        return complete(irp, st, 4);
    }
    case kIoctlInDirect:
        return complete(irp, STATUS_SUCCESS);
    case kIoctlOutDirect: {
        char* p = static_cast<char*>(MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority));
        int n = std::snprintf(p, sl->Parameters.DeviceIoControl.OutputBufferLength, "direct%u",
                              unsigned(sl->Parameters.DeviceIoControl.InputBufferLength));
        return complete(irp, STATUS_SUCCESS, ULONG_PTR(n));
    }
    case kIoctlProbeBoth: {
        bool fOk = probed(sl->Parameters.DeviceIoControl.Type3InputBuffer,
                          sl->Parameters.DeviceIoControl.InputBufferLength, IoReadAccess);
        std::function<void()> onProbes;
        {
            std::lock_guard<std::mutex> lk(g_record.mtx);
            onProbes = g_record.onProbes;
        }
        if (onProbes)
            onProbes();
        fOk = probed(irp->UserBuffer, sl->Parameters.DeviceIoControl.OutputBufferLength, IoModifyAccess) && fOk;
        return complete(irp, fOk ? STATUS_SUCCESS : STATUS_ACCESS_VIOLATION);
    }
    case kIoctlStatusMismatch:
        complete(irp, STATUS_SUCCESS);
        return STATUS_UNSUCCESSFUL;
    case kIoctlPendUnmarked:
        complete(irp, STATUS_SUCCESS);
        return STATUS_PENDING;
    case kIoctlMarkedNoPend:
        IoMarkIrpPending(irp);
        return complete(irp, STATUS_SUCCESS);
    }
    return complete(irp, STATUS_INVALID_DEVICE_REQUEST);
}

NTSTATUS onStartDone(PDEVICE_OBJECT, PIRP irp, PVOID ctx)
{
    if (irp->PendingReturned)
        KeSetEvent(static_cast<PKEVENT>(ctx), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS onPnp(PDEVICE_OBJECT dev, PIRP irp)
{
    note(dev, irp);
    auto* pe = static_cast<Ext*>(dev->DeviceExtension);
    PIO_STACK_LOCATION sl = IoGetCurrentIrpStackLocation(irp);
    switch (sl->MinorFunction) {
    case IRP_MN_START_DEVICE: {
        KEVENT ev;
        KeInitializeEvent(&ev, NotificationEvent, FALSE);
        IoCopyCurrentIrpStackLocationToNext(irp);
        IoSetCompletionRoutine(irp, onStartDone, &ev, TRUE, TRUE, TRUE);
        NTSTATUS st = IoCallDriver(pe->lower, irp);
        if (st == STATUS_PENDING) {
            KeWaitForSingleObject(&ev, Executive, KernelMode, FALSE, nullptr);
            st = irp->IoStatus.Status;
        }
        if (NT_SUCCESS(st)) {
            std::lock_guard<std::mutex> lk(g_record.mtx);
            ++g_record.cStart;
        }
        return complete(irp, st);
    }
    case IRP_MN_REMOVE_DEVICE: {
        std::function<void()> onRemove;
        {
            std::lock_guard<std::mutex> lk(g_record.mtx);
            ++g_record.cRemove;
            onRemove = g_record.onRemove;
        }
        if (onRemove)
            onRemove();
        irp->IoStatus.Status = STATUS_SUCCESS;
        IoSkipCurrentIrpStackLocation(irp);
        NTSTATUS st = IoCallDriver(pe->lower, irp);
        IoDetachDevice(pe->lower);
        IoDeleteDevice(dev);
        return st;
    }
    default:
        IoSkipCurrentIrpStackLocation(irp);
        return IoCallDriver(pe->lower, irp);
    }
}

NTSTATUS onAddDevice(PDRIVER_OBJECT drv, PDEVICE_OBJECT pdo)
{
    int n = g_cDevice++;
    std::u16string dname = kstub::widen("\\Device\\TESTDEV_" + std::to_string(n));
    std::u16string lname = kstub::widen("\\DosDevices\\TESTDEV_" + std::to_string(n));
    UNICODE_STRING ud, ul;
    ud.Buffer = &dname[0];
    ud.Length = ud.MaximumLength = USHORT(dname.size() * 2);
    ul.Buffer = &lname[0];
    ul.Length = ul.MaximumLength = USHORT(lname.size() * 2);
    PDEVICE_OBJECT dev = nullptr;
    NTSTATUS st = IoCreateDevice(drv, sizeof(Ext), &ud, FILE_DEVICE_UNKNOWN, FILE_DEVICE_SECURE_OPEN,
                                 FALSE, &dev);
    if (!NT_SUCCESS(st))
        return st;
    st = IoCreateSymbolicLink(&ul, &ud);
    if (!NT_SUCCESS(st) && st != STATUS_OBJECT_NAME_COLLISION) {
        IoDeleteDevice(dev);
        return st;
    }
    auto* pe = static_cast<Ext*>(dev->DeviceExtension);
    pe->index = n;
    dev->Flags |= DO_BUFFERED_IO;
    pe->lower = IoAttachDeviceToDeviceStack(dev, pdo);
    if (!pe->lower) {
        IoDeleteDevice(dev);
        return STATUS_NO_SUCH_DEVICE;
    }
    dev->Flags &= ~ULONG(DO_DEVICE_INITIALIZING);
    return STATUS_SUCCESS;
}

VOID onUnload(PDRIVER_OBJECT)
{
    std::lock_guard<std::mutex> lk(g_record.mtx);
    ++g_record.cUnload;
}

}  // namespace

Record& record() { return g_record; }

void reset()
{
    std::lock_guard<std::mutex> lk(g_record.mtx);
    g_record.seen.clear();
    g_record.blocked.clear();
    g_record.cStart = g_record.cRemove = g_record.cUnload = 0;
    g_record.onRemove = nullptr;
    g_record.onProbes = nullptr;
    g_cDevice = 0;
}

bool releaseBlocked(NTSTATUS st)
{
    PIRP irp = nullptr;
    {
        std::lock_guard<std::mutex> lk(g_record.mtx);
        if (g_record.blocked.empty())
            return false;
        irp = g_record.blocked.front();
        if (!IoSetCancelRoutine(irp, nullptr))
            return false;  // being cancelled: the cancel routine takes it
        g_record.blocked.erase(g_record.blocked.begin());
    }
    complete(irp, st);
    return true;
}

std::size_t blockedCount()
{
    std::lock_guard<std::mutex> lk(g_record.mtx);
    return g_record.blocked.size();
}

NTSTATUS DriverEntry(PDRIVER_OBJECT drv, PUNICODE_STRING)
{
    drv->DriverExtension->AddDevice = onAddDevice;
    drv->DriverUnload = onUnload;
    drv->MajorFunction[IRP_MJ_CREATE] = onCreate;
    drv->MajorFunction[IRP_MJ_CLOSE] = onSimple;
    drv->MajorFunction[IRP_MJ_CLEANUP] = onSimple;
    drv->MajorFunction[IRP_MJ_READ] = onRead;
    drv->MajorFunction[IRP_MJ_DEVICE_CONTROL] = onIoctl;
    drv->MajorFunction[IRP_MJ_PNP] = onPnp;
    return STATUS_SUCCESS;
}

}  // namespace testdrv
