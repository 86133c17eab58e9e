// The user-mode side of the I/O manager: opens by path, device control,
// read, close (cleanup, then close when no request is in flight) and cancel.
#include "state.h"

using namespace kstub;
using namespace kstub::detail;

namespace kstub::detail {

PDEVICE_OBJECT bottomOf(PDEVICE_OBJECT dev)
{
    State& s = cur();
    std::lock_guard<std::recursive_mutex> lk(s.mtx);
    while (dev->Info->attachedTo)
        dev = dev->Info->attachedTo;
    return dev;
}

std::size_t openFilesOnStack(PDEVICE_OBJECT pdo)
{
    State& s = cur();
    std::size_t n = 0;
    {
        std::lock_guard<std::recursive_mutex> lk(s.mtx);
        for (FileRec* pf : s.files)
            if (bottomOf(pf->fo.DeviceObject) == pdo)
                ++n;
    }
    passHook(Hook::FilesCounted);
    return n;
}

}  // namespace kstub::detail

namespace {

void record(UCHAR major, ULONG code, NTSTATUS st, const std::string& path)
{
    State& s = cur();
    std::lock_guard<std::mutex> lk(s.miscMtx);
    s.ioLog.push_back(IoRecord{major, code, st, path});
}

FileRec* fileOf(HANDLE h)
{
    State& s = cur();
    std::lock_guard<std::recursive_mutex> lk(s.mtx);
    auto it = s.fileHandles.find(reinterpret_cast<uintptr_t>(h));
    return it == s.fileHandles.end() ? nullptr : it->second;
}

// False when the device's stack no longer takes new opens (removed, or
// surprise-removed).
bool stackOpenable(PDEVICE_OBJECT dev)
{
    if (dev->Info->fDeleted)
        return false;
    DevNode* pn = nodeOf(bottomOf(dev));
    return !pn || (pn->state != DevState::Removed && pn->state != DevState::SurpriseRemoved);
}

// False when the requests of handles already open can no longer reach the
// driver. After a surprise removal they still do, until the removal that
// waits for the last close: the driver refuses them itself.
bool stackUsable(PDEVICE_OBJECT dev)
{
    if (dev->Info->fDeleted)
        return false;
    DevNode* pn = nodeOf(bottomOf(dev));
    return !pn || pn->state != DevState::Removed;
}

// What the I/O manager checks of a caller's buffer before a buffered
// request: inside the user half and every page reachable (written back when
// fWrite). A null buffer is no buffer.
bool userBufferOk(const void* p, ULONG cb, bool fWrite)
{
    if (!p || cb == 0)
        return true;
    uintptr_t lo = reinterpret_cast<uintptr_t>(p);
    uintptr_t hi = lo + cb;
    if (hi < lo || lo < kLowestUserAddress || hi > kUserProbeAddress)
        return false;
    return userPagesAccessible(lo, hi, fWrite);
}

// A system buffer of cb bytes for a user-mode caller: the cbIn bytes of in
// copied in, up to cbOut bytes copied back to out at completion. False when
// the input could not be read.
bool giveUserSystemBuffer(PIRP irp, ULONG cb, const void* in, ULONG cbIn, PVOID out, ULONG cbOut)
{
    giveSystemBuffer(irp, cb, nullptr, 0, out, cbOut);
    irp->IoManager->fUserCopyBack = true;
    return !in || copyFromUser(irp->AssociatedIrp.SystemBuffer, in, cbIn);
}

// The caller's buffer of a direct-method request, probed for op and locked in
// the request's MDL, which the completion unlocks and frees. The failure's
// status when it cannot be.
NTSTATUS lockCallerBuffer(PIRP irp, PVOID p, ULONG cb, LOCK_OPERATION op)
{
    PMDL m = IoAllocateMdl(p, cb, FALSE, FALSE, irp);
    if (!m)
        return STATUS_INSUFFICIENT_RESOURCES;
    try {
        MmProbeAndLockPages(m, UserMode, op);
    } catch (const KvSehException& e) {
        irp->MdlAddress = nullptr;
        IoFreeMdl(m);
        return e.Code;
    }
    irp->IoManager->fCallerMdl = true;
    return STATUS_SUCCESS;
}

PIRP newFileIrp(FileRec* pf, PDEVICE_OBJECT top, UCHAR major)
{
    PIRP irp = allocIrp(top->StackSize, KvIrpPrivate::Waited);
    irp->RequestorMode = UserMode;
    irp->Tail.Overlay.OriginalFileObject = &pf->fo;
    irp->IoManager->pfile = pf;
    PIO_STACK_LOCATION sl = IoGetNextIrpStackLocation(irp);
    sl->MajorFunction = major;
    sl->FileObject = &pf->fo;
    return irp;
}

// Forgets a file and lets go of its device: the device is freed when it was
// deleted and this was its last file, else a removal waiting for the last
// close may go ahead. Who brings that removal is decided with the file: one
// closer only finds no file left, and it takes the removal, which keeps the
// device and its node until it is done; the others touch neither again.
void releaseFile(FileRec* pf)
{
    State& s = cur();
    PDEVICE_OBJECT dev = pf->fo.DeviceObject;
    bool fFree = false;
    DevNode* pnRemove = nullptr;
    {
        std::lock_guard<std::recursive_mutex> lk(s.mtx);
        PDEVICE_OBJECT bottom = bottomOf(dev);
        s.files.erase(pf);
        fFree = --dev->Info->cRef == 0 && dev->Info->fDeleted;
        if (!fFree)
            pnRemove = takeRemovalAtLastClose(bottom);
    }
    delete pf;
    passHook(Hook::FileReleased);
    if (fFree)
        freeDevice(dev);
    else if (pnRemove)
        sendRemovalTaken(pnRemove);
}

void finalClose(FileRec* pf)
{
    PDEVICE_OBJECT dev = pf->fo.DeviceObject;
    if (stackUsable(dev)) {
        PDEVICE_OBJECT top = attachedTop(dev);
        NTSTATUS st = callAndWait(top, newFileIrp(pf, top, IRP_MJ_CLOSE));
        record(IRP_MJ_CLOSE, 0, st, pf->path);
    }
    releaseFile(pf);
}

// Sends a request of an open file and waits for it; the file stays
// referenced while the request is in flight.
NTSTATUS submit(FileRec* pf, PIRP irp, PDEVICE_OBJECT top, ULONG_PTR* pInfo, bool* pfClose)
{
    State& s = cur();
    {
        std::lock_guard<std::recursive_mutex> lk(s.mtx);
        pf->irps.insert(irp);
    }
    NTSTATUS stFinal = sendAndWait(top, irp, "a request of a user-mode caller");
    // The caller's byte count comes with every status but an error.
    if (pInfo)
        *pInfo = NT_ERROR(stFinal) ? 0 : irp->IoStatus.Information;
    bool fClose = false;
    {
        std::lock_guard<std::recursive_mutex> lk(s.mtx);
        pf->irps.erase(irp);
        freeIrp(irp);
        fClose = --pf->cInFlight == 0 && pf->fClosing;
    }
    *pfClose = fClose;
    return stFinal;
}

// Takes a reference for one request; null when the handle is not open.
FileRec* enter(HANDLE h)
{
    State& s = cur();
    std::lock_guard<std::recursive_mutex> lk(s.mtx);
    auto it = s.fileHandles.find(reinterpret_cast<uintptr_t>(h));
    if (it == s.fileHandles.end())
        return nullptr;
    ++it->second->cInFlight;
    return it->second;
}

// Gives the reference back without a request; true when the file must now be
// closed (the caller does it once it has let go of the file's lock).
bool leaveUnsent(FileRec* pf)
{
    State& s = cur();
    std::lock_guard<std::recursive_mutex> lk(s.mtx);
    return --pf->cInFlight == 0 && pf->fClosing;
}

NTSTATUS finish(FileRec* pf, std::unique_lock<std::mutex>& fileLock, bool fClose, UCHAR major,
                ULONG code, NTSTATUS st, const std::string& path)
{
    if (fileLock.owns_lock())
        fileLock.unlock();
    if (fClose)
        finalClose(pf);
    record(major, code, st, path);
    return st;
}

}  // namespace

namespace kstub::io {

NTSTATUS create(const char* path, HANDLE* ph, ULONG flags)
{
    State& s = cur();
    std::string sPath = path ? path : "";
    auto done = [&](NTSTATUS st) {
        record(IRP_MJ_CREATE, 0, st, sPath);
        return st;
    };
    if (sPath.compare(0, 4, "\\\\.\\") != 0)
        return done(STATUS_OBJECT_PATH_SYNTAX_BAD);
    std::size_t slash = sPath.find('\\', 4);
    std::string name = sPath.substr(4, slash == std::string::npos ? std::string::npos : slash - 4);
    std::string rest = slash == std::string::npos ? std::string() : sPath.substr(slash);
    if (name.empty())
        return done(STATUS_OBJECT_NAME_INVALID);
    PDEVICE_OBJECT dev = nullptr;
    auto* pf = new FileRec;
    {
        std::lock_guard<std::recursive_mutex> lk(s.mtx);
        auto il = s.links.find(upper("\\DosDevices\\" + name));
        if (il == s.links.end()) {
            delete pf;
            return done(STATUS_OBJECT_NAME_NOT_FOUND);
        }
        auto id = s.devices.find(upper(il->second));
        if (id == s.devices.end()) {
            delete pf;
            return done(STATUS_OBJECT_NAME_NOT_FOUND);
        }
        dev = id->second;
        if (dev->Flags & DO_DEVICE_INITIALIZING) {
            delete pf;
            return done(STATUS_NO_SUCH_DEVICE);
        }
        if (!stackOpenable(dev)) {
            delete pf;
            return done(STATUS_DELETE_PENDING);
        }
        pf->name = widen(rest);
        pf->path = sPath;
        pf->fSync = (flags & 0x40000000u) == 0;
        pf->fo.Type = 5;
        pf->fo.Size = sizeof(FILE_OBJECT);
        pf->fo.DeviceObject = dev;
        pf->fo.Flags = pf->fSync ? FO_SYNCHRONOUS_IO : 0;
        pf->fo.FileName = countedView(pf->name);
        ++dev->Info->cRef;
        s.files.insert(pf);
        pf->cInFlight = 1;
    }
    PDEVICE_OBJECT top = attachedTop(dev);
    PIRP irp = newFileIrp(pf, top, IRP_MJ_CREATE);
    IO_STACK_LOCATION* sl = IoGetNextIrpStackLocation(irp);
    sl->Parameters.Create.ShareAccess = 3;
    NTSTATUS st = callAndWait(top, irp);
    if (!NT_SUCCESS(st)) {
        releaseFile(pf);
        return done(st);
    }
    {
        std::lock_guard<std::recursive_mutex> lk(s.mtx);
        pf->cInFlight = 0;
        HANDLE h = newHandle();
        s.fileHandles[reinterpret_cast<uintptr_t>(h)] = pf;
        *ph = h;
    }
    return done(st);
}

NTSTATUS ioctl(HANDLE h, ULONG code, PVOID in, ULONG cbIn, PVOID out, ULONG cbOut, ULONG_PTR* pInfo)
{
    UserRequestScope scope;
    if (pInfo)
        *pInfo = 0;
    FileRec* pf = enter(h);
    if (!pf) {
        record(IRP_MJ_DEVICE_CONTROL, code, STATUS_INVALID_HANDLE, "");
        return STATUS_INVALID_HANDLE;
    }
    std::unique_lock<std::mutex> fileLock(pf->ioMtx, std::defer_lock);
    if (pf->fSync)
        fileLock.lock();
    std::string path = pf->path;
    if (!stackUsable(pf->fo.DeviceObject))
        return finish(pf, fileLock, leaveUnsent(pf), IRP_MJ_DEVICE_CONTROL, code,
                      STATUS_DELETE_PENDING, path);
    ULONG method = METHOD_FROM_CTL_CODE(code);
    bool fDirect = method == METHOD_IN_DIRECT || method == METHOD_OUT_DIRECT;
    if (method != METHOD_NEITHER &&
        (!userBufferOk(in, cbIn, false) || (method == METHOD_BUFFERED && !userBufferOk(out, cbOut, true))))
        return finish(pf, fileLock, leaveUnsent(pf), IRP_MJ_DEVICE_CONTROL, code,
                      STATUS_ACCESS_VIOLATION, path);
    PDEVICE_OBJECT top = attachedTop(pf->fo.DeviceObject);
    PIRP irp = newFileIrp(pf, top, IRP_MJ_DEVICE_CONTROL);
    PIO_STACK_LOCATION sl = IoGetNextIrpStackLocation(irp);
    sl->Parameters.DeviceIoControl.IoControlCode = code;
    sl->Parameters.DeviceIoControl.InputBufferLength = cbIn;
    sl->Parameters.DeviceIoControl.OutputBufferLength = cbOut;
    irp->UserBuffer = out;
    if (method == METHOD_NEITHER) {
        sl->Parameters.DeviceIoControl.Type3InputBuffer = in;
    } else {
        // Buffered: one system buffer for both ways. Direct: the input in a
        // system buffer, the output locked in an MDL.
        ULONG cb = fDirect ? cbIn : cbIn > cbOut ? cbIn : cbOut;
        NTSTATUS st = STATUS_SUCCESS;
        if (cb && !giveUserSystemBuffer(irp, cb, in, cbIn, fDirect ? nullptr : out, fDirect ? 0 : cbOut))
            st = STATUS_ACCESS_VIOLATION;
        else if (fDirect && cbOut)
            st = lockCallerBuffer(irp, out, cbOut, method == METHOD_IN_DIRECT ? IoReadAccess : IoWriteAccess);
        if (!NT_SUCCESS(st)) {
            freeIrp(irp);
            return finish(pf, fileLock, leaveUnsent(pf), IRP_MJ_DEVICE_CONTROL, code, st, path);
        }
    }
    bool fClose = false;
    NTSTATUS st = submit(pf, irp, top, pInfo, &fClose);
    return finish(pf, fileLock, fClose, IRP_MJ_DEVICE_CONTROL, code, st, path);
}

NTSTATUS read(HANDLE h, PVOID buf, ULONG cb, ULONG_PTR* pInfo)
{
    UserRequestScope scope;
    if (pInfo)
        *pInfo = 0;
    FileRec* pf = enter(h);
    if (!pf) {
        record(IRP_MJ_READ, cb, STATUS_INVALID_HANDLE, "");
        return STATUS_INVALID_HANDLE;
    }
    std::unique_lock<std::mutex> fileLock(pf->ioMtx, std::defer_lock);
    if (pf->fSync)
        fileLock.lock();
    std::string path = pf->path;
    if (!stackUsable(pf->fo.DeviceObject))
        return finish(pf, fileLock, leaveUnsent(pf), IRP_MJ_READ, cb, STATUS_DELETE_PENDING, path);
    PDEVICE_OBJECT top = attachedTop(pf->fo.DeviceObject);
    bool fBuffered = (top->Flags & DO_BUFFERED_IO) != 0;
    // The read's buffer is probed for writing: no buffer with a length fails.
    if (fBuffered && ((!buf && cb) || !userBufferOk(buf, cb, true)))
        return finish(pf, fileLock, leaveUnsent(pf), IRP_MJ_READ, cb, STATUS_ACCESS_VIOLATION, path);
    PIRP irp = newFileIrp(pf, top, IRP_MJ_READ);
    PIO_STACK_LOCATION sl = IoGetNextIrpStackLocation(irp);
    sl->Parameters.Read.Length = cb;
    if (fBuffered)
        giveUserSystemBuffer(irp, cb ? cb : 1, nullptr, 0, buf, cb);
    irp->UserBuffer = buf;
    bool fClose = false;
    NTSTATUS st = submit(pf, irp, top, pInfo, &fClose);
    return finish(pf, fileLock, fClose, IRP_MJ_READ, cb, st, path);
}

NTSTATUS close(HANDLE h)
{
    State& s = cur();
    FileRec* pf = nullptr;
    {
        std::lock_guard<std::recursive_mutex> lk(s.mtx);
        auto it = s.fileHandles.find(reinterpret_cast<uintptr_t>(h));
        if (it == s.fileHandles.end())
            return STATUS_INVALID_HANDLE;
        pf = it->second;
        s.fileHandles.erase(it);
        ++pf->cInFlight;  // the cleanup request
    }
    if (stackUsable(pf->fo.DeviceObject)) {
        PDEVICE_OBJECT top = attachedTop(pf->fo.DeviceObject);
        NTSTATUS st = callAndWait(top, newFileIrp(pf, top, IRP_MJ_CLEANUP));
        record(IRP_MJ_CLEANUP, 0, st, pf->path);
    }
    bool fClose;
    {
        std::lock_guard<std::recursive_mutex> lk(s.mtx);
        pf->fClosing = true;
        fClose = --pf->cInFlight == 0;
    }
    if (fClose)
        finalClose(pf);
    return STATUS_SUCCESS;
}

NTSTATUS cancel(HANDLE h)
{
    State& s = cur();
    std::lock_guard<std::recursive_mutex> lk(s.mtx);
    auto it = s.fileHandles.find(reinterpret_cast<uintptr_t>(h));
    if (it == s.fileHandles.end())
        return STATUS_INVALID_HANDLE;
    std::vector<PIRP> irps(it->second->irps.begin(), it->second->irps.end());
    for (PIRP irp : irps)
        IoCancelIrp(irp);
    return STATUS_SUCCESS;
}

PFILE_OBJECT fileObject(HANDLE h)
{
    FileRec* pf = fileOf(h);
    return pf ? &pf->fo : nullptr;
}

}  // namespace kstub::io
