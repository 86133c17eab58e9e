// The plug-and-play manager: physical device objects of buses, driver
// loading and unloading, AddDevice, start, stop and removal.
#include <chrono>
#include <exception>
#include <cstdlib>
#include <dlfcn.h>

#include "state.h"

using namespace kstub;
using namespace kstub::detail;

namespace kstub::detail {
void createKeyPath(const std::string& path);
}

namespace {

constexpr NTSTATUS kStatusInvalidDeviceState = NTSTATUS(0xC0000184L);

NTSTATUS invalidRequest(PDEVICE_OBJECT, PIRP irp)
{
    irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_INVALID_DEVICE_REQUEST;
}

NTSTATUS pdoPnp(PDEVICE_OBJECT dev, PIRP irp)
{
    DevNode* pn = nodeOf(dev);
    PIO_STACK_LOCATION sl = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS st = irp->IoStatus.Status;
    switch (sl->MinorFunction) {
    case IRP_MN_START_DEVICE:
        st = pn ? pn->stStart : STATUS_SUCCESS;
        if (pn && pn->fPendStart) {
            IoMarkIrpPending(irp);
            irp->IoStatus.Status = st;
            State& s = cur();
            std::lock_guard<std::recursive_mutex> lk(s.mtx);
            s.workers.emplace_back([irp] {
                try {
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    IoCompleteRequest(irp, IO_NO_INCREMENT);
                } catch (const std::exception& e) {
                    fatal(std::string("exception in the bus's start worker: ") + e.what());
                } catch (...) {
                    fatal("exception in the bus's start worker");
                }
            });
            return STATUS_PENDING;
        }
        break;
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL:
        st = STATUS_SUCCESS;
        break;
    default:
        break;  // not handled: the status stays as it came
    }
    irp->IoStatus.Status = st;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return st;
}

NTSTATUS pdoInternal(PDEVICE_OBJECT dev, PIRP irp)
{
    DevNode* pn = nodeOf(dev);
    if (pn && pn->fBusGone) {
        irp->IoStatus.Status = STATUS_DEVICE_NOT_CONNECTED;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_DEVICE_NOT_CONNECTED;
    }
    if (!pn || !pn->pbus)
        return invalidRequest(dev, irp);
    return pn->pbus->internalDeviceControl(dev, irp);
}

DriverRec* driverFor(State& s, DevNode* pn)
{
    std::lock_guard<std::recursive_mutex> lk(s.mtx);
    for (const auto& d : s.drivers)
        if (pn->props.service.empty() || lower(d->service) == lower(pn->props.service))
            return d.get();
    return nullptr;
}

DevNode* node(PDEVICE_OBJECT pdo)
{
    DevNode* pn = nodeOf(pdo);
    if (!pn)
        fatal("not a physical device object of a bus");
    return pn;
}

NTSTATUS sendPnp(PDEVICE_OBJECT pdo, UCHAR minor, PCM_RESOURCE_LIST raw = nullptr,
                 PCM_RESOURCE_LIST translated = nullptr)
{
    PDEVICE_OBJECT top = attachedTop(pdo);
    PIRP irp = allocIrp(top->StackSize, KvIrpPrivate::Waited);
    irp->RequestorMode = KernelMode;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION sl = IoGetNextIrpStackLocation(irp);
    sl->MajorFunction = IRP_MJ_PNP;
    sl->MinorFunction = minor;
    sl->Parameters.StartDevice.AllocatedResources = raw;
    sl->Parameters.StartDevice.AllocatedResourcesTranslated = translated;
    if (irql() != PASSIVE_LEVEL)
        fatal("plug-and-play requests are sent at PASSIVE_LEVEL");
    return callAndWait(top, irp);
}

PCM_RESOURCE_LIST buildResources(const std::vector<Resource>& rs)
{
    if (rs.empty())
        return nullptr;
    std::size_t cb = sizeof(CM_RESOURCE_LIST) + sizeof(CM_PARTIAL_RESOURCE_DESCRIPTOR) * rs.size();
    auto* pl = static_cast<PCM_RESOURCE_LIST>(std::calloc(1, cb));
    pl->Count = 1;
    pl->List[0].InterfaceType = PCIBus;
    pl->List[0].PartialResourceList.Version = 1;
    pl->List[0].PartialResourceList.Revision = 1;
    pl->List[0].PartialResourceList.Count = ULONG(rs.size());
    // The descriptors lie past the declared one-element arrays: they are
    // reached by their offset, since indexing those arrays past their first
    // element lets the compiler drop the later stores.
    auto* pprd = reinterpret_cast<CM_PARTIAL_RESOURCE_DESCRIPTOR*>(
        reinterpret_cast<char*>(pl) + offsetof(CM_RESOURCE_LIST, List) +
        offsetof(CM_FULL_RESOURCE_DESCRIPTOR, PartialResourceList) +
        offsetof(CM_PARTIAL_RESOURCE_LIST, PartialDescriptors));
    for (std::size_t i = 0; i < rs.size(); ++i) {
        const Resource& r = rs[i];
        CM_PARTIAL_RESOURCE_DESCRIPTOR& d = pprd[i];
        d.ShareDisposition = r.share;
        d.Flags = r.flags;
        switch (r.kind) {
        case Resource::Port:
            d.Type = CmResourceTypePort;
            d.u.Port.Start.QuadPart = LONGLONG(r.start);
            d.u.Port.Length = r.length;
            break;
        case Resource::Memory:
            d.Type = CmResourceTypeMemory;
            d.u.Memory.Start.QuadPart = LONGLONG(r.start);
            d.u.Memory.Length = r.length;
            break;
        case Resource::Interrupt:
            d.Type = CmResourceTypeInterrupt;
            d.u.Interrupt.Level = r.level;
            d.u.Interrupt.Vector = r.vector;
            d.u.Interrupt.Affinity = KAFFINITY(r.affinity);
            break;
        case Resource::DevicePrivate:
            d.Type = CmResourceTypeDevicePrivate;
            for (int k = 0; k < 3; ++k)
                d.u.DevicePrivate.Data[k] = r.data[k];
            break;
        }
    }
    return pl;
}

void deletePdoNow(State& s, DevNode* pn)
{
    PDEVICE_OBJECT pdo = pn->pdo;
    if (pn->pbus)
        pn->pbus->deleted(pdo);
    pdo->Info->pnode = nullptr;
    IoDeleteDevice(pdo);
    std::lock_guard<std::recursive_mutex> lk(s.mtx);
    for (auto it = s.nodes.begin(); it != s.nodes.end(); ++it)
        if (it->get() == pn) {
            s.nodes.erase(it);
            break;
        }
}

// Takes the removal for this caller: any removal, or with fPendingOnly only
// the one that waits for the last close, if nobody took it yet. A removal
// taken while one runs is a slip of the manager's own.
bool takeRemoval(DevNode* pn, bool fPendingOnly)
{
    std::lock_guard<std::mutex> lk(pn->mtxRemoval);
    if (fPendingOnly && !pn->fRemoveOnLastClose)
        return false;
    if (pn->fRemoving) {
        problem("a second removal of " + pn->props.name + " while one runs");
        return false;
    }
    pn->fRemoveOnLastClose = false;
    pn->fRemoving = true;
    return true;
}

// Sends the removal taken; deletes the device when the bus deleted it
// meanwhile.
void sendRemoval(State& s, DevNode* pn)
{
    sendPnp(pn->pdo, IRP_MN_REMOVE_DEVICE);
    if (pn->pdo->AttachedDevice)
        problem("REMOVE left a device attached to the physical device object");
    pn->state = DevState::Removed;
    pn->pdriver = nullptr;
    bool fDelete;
    {
        std::lock_guard<std::mutex> lk(pn->mtxRemoval);
        pn->fRemoving = false;
        fDelete = pn->fDeleteWhenRemoved;
    }
    if (fDelete)
        deletePdoNow(s, pn);
}

void doRemove(State& s, DevNode* pn)
{
    if (takeRemoval(pn, false))
        sendRemoval(s, pn);
}

bool hasStack(const DevNode* pn)
{
    return pn->state == DevState::Added || pn->state == DevState::Started ||
           pn->state == DevState::Stopped;
}

// SURPRISE_REMOVAL now; REMOVE once no handle is open on the stack, at once
// when none is. The mark and the count go under the kernel's lock, where
// every close lets go of its file: the manager or one closer takes it.
NTSTATUS surpriseRemoveStack(State& s, DevNode* pn)
{
    NTSTATUS st = sendPnp(pn->pdo, IRP_MN_SURPRISE_REMOVAL);
    pn->state = DevState::SurpriseRemoved;
    DevNode* pnRemove = nullptr;
    {
        std::lock_guard<std::recursive_mutex> lk(s.mtx);
        pn->fRemoveOnLastClose = true;
        pnRemove = takeRemovalAtLastClose(pn->pdo);
    }
    passHook(Hook::SurpriseRemovalCounted);
    if (pnRemove)
        sendRemoval(s, pnRemove);
    return st;
}

}  // namespace

namespace kstub::detail {

DevNode* takeRemovalAtLastClose(PDEVICE_OBJECT bottom)
{
    DevNode* pn = nodeOf(bottom);
    return pn && openFilesOnStack(bottom) == 0 && takeRemoval(pn, true) ? pn : nullptr;
}

void sendRemovalTaken(DevNode* pn) { sendRemoval(cur(), pn); }

}  // namespace kstub::detail

namespace kstub {

void createBusDriver(State& s)
{
    auto* drv = new DRIVER_OBJECT{};
    drv->Type = 4;
    drv->Size = sizeof(DRIVER_OBJECT);
    for (auto& pfn : drv->MajorFunction)
        pfn = invalidRequest;
    drv->MajorFunction[IRP_MJ_PNP] = pdoPnp;
    drv->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = pdoInternal;
    s.pBusDriver = drv;
}

PDEVICE_OBJECT Pnp::createPdo(const PdoProps& props, BusDevice* pbus)
{
    auto pn = std::make_unique<DevNode>();
    pn->props = props;
    pn->pbus = pbus;
    unsigned n;
    {
        std::lock_guard<std::recursive_mutex> lk(_s.mtx);
        n = _s.cPdo++;
    }
    if (pn->props.instanceId.empty())
        pn->props.instanceId = "KV\\DEVICE\\" + std::to_string(n);
    if (pn->props.name.empty())
        pn->props.name = "\\Device\\KVPDO-" + std::to_string(n);
    std::u16string wname = widen(pn->props.name);
    UNICODE_STRING uname = countedView(wname);
    PDEVICE_OBJECT pdo = nullptr;
    NTSTATUS st = IoCreateDevice(_s.pBusDriver, 0, &uname, FILE_DEVICE_BUS_EXTENDER,
                                 FILE_DEVICE_SECURE_OPEN, FALSE, &pdo);
    if (!NT_SUCCESS(st))
        fatal("cannot create the physical device object " + pn->props.name);
    pdo->Flags &= ~ULONG(DO_DEVICE_INITIALIZING);
    pdo->Info->pnode = pn.get();
    pn->pdo = pdo;
    std::string hw = "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\" + pn->props.instanceId +
                     "\\Device Parameters";
    createKeyPath(hw);
    for (const RegValue& v : pn->props.deviceValues)
        _s.pKernel->registry().setValue(hw, v);
    DevNode* p = pn.get();
    {
        std::lock_guard<std::recursive_mutex> lk(_s.mtx);
        _s.nodes.push_back(std::move(pn));
    }
    if (_s.fAutoEnumerate && driverFor(_s, p))
        enumerate(pdo);
    return pdo;
}

void Pnp::setAutoEnumerate(bool fOn)
{
    std::lock_guard<std::recursive_mutex> lk(_s.mtx);
    _s.fAutoEnumerate = fOn;
}

NTSTATUS Pnp::addDevice(PDEVICE_OBJECT pdo)
{
    DevNode* pn = node(pdo);
    if (pn->state != DevState::Present && pn->state != DevState::Removed)
        return kStatusInvalidDeviceState;
    DriverRec* pd = driverFor(_s, pn);
    if (!pd)
        return STATUS_OBJECT_NAME_NOT_FOUND;
    PDRIVER_ADD_DEVICE pfn = pd->pdrv->DriverExtension->AddDevice;
    if (!pfn)
        return STATUS_INVALID_DEVICE_REQUEST;
    NTSTATUS st;
    {
        DriverCall dc;
        st = pfn(pd->pdrv, pdo);
    }
    if (!NT_SUCCESS(st))
        return st;
    PDEVICE_OBJECT top = attachedTop(pdo);
    if (top == pdo)
        problem("AddDevice succeeded without attaching a device");
    else if (top->Flags & DO_DEVICE_INITIALIZING)
        problem("AddDevice left DO_DEVICE_INITIALIZING set");
    pn->state = DevState::Added;
    pn->pdriver = pd;
    return st;
}

NTSTATUS Pnp::start(PDEVICE_OBJECT pdo)
{
    DevNode* pn = node(pdo);
    if (pn->state != DevState::Added && pn->state != DevState::Stopped)
        return kStatusInvalidDeviceState;
    bool fRestart = pn->state == DevState::Stopped;
    PCM_RESOURCE_LIST raw = buildResources(pn->props.resources);
    PCM_RESOURCE_LIST tr = buildResources(pn->props.resources);
    NTSTATUS st = sendPnp(pdo, IRP_MN_START_DEVICE, raw, tr);
    std::free(raw);
    std::free(tr);
    if (NT_SUCCESS(st)) {
        pn->state = DevState::Started;
        return st;
    }
    // A device that fails to start is removed again. One that fails to start
    // again after a stop may have handles open: it is surprise-removed, and
    // the removal follows the last close.
    if (fRestart)
        surpriseRemoveStack(_s, pn);
    else
        doRemove(_s, pn);
    return st;
}

NTSTATUS Pnp::enumerate(PDEVICE_OBJECT pdo)
{
    NTSTATUS st = addDevice(pdo);
    return NT_SUCCESS(st) ? start(pdo) : st;
}

NTSTATUS Pnp::stop(PDEVICE_OBJECT pdo)
{
    DevNode* pn = node(pdo);
    if (pn->state != DevState::Started)
        return kStatusInvalidDeviceState;
    NTSTATUS st = sendPnp(pdo, IRP_MN_QUERY_STOP_DEVICE);
    if (!NT_SUCCESS(st)) {
        sendPnp(pdo, IRP_MN_CANCEL_STOP_DEVICE);
        return st;
    }
    st = sendPnp(pdo, IRP_MN_STOP_DEVICE);
    pn->state = DevState::Stopped;
    return st;
}

NTSTATUS Pnp::remove(PDEVICE_OBJECT pdo)
{
    DevNode* pn = node(pdo);
    if (!hasStack(pn))
        return kStatusInvalidDeviceState;
    NTSTATUS st = sendPnp(pdo, IRP_MN_QUERY_REMOVE_DEVICE);
    if (NT_SUCCESS(st) && openFilesOnStack(pdo) > 0)
        st = STATUS_ACCESS_DENIED;
    if (!NT_SUCCESS(st)) {
        sendPnp(pdo, IRP_MN_CANCEL_REMOVE_DEVICE);
        return st;
    }
    doRemove(_s, pn);
    return STATUS_SUCCESS;
}

NTSTATUS Pnp::surpriseRemove(PDEVICE_OBJECT pdo)
{
    DevNode* pn = node(pdo);
    if (pn->pbus)
        pn->pbus->surpriseRemoved(pdo);
    if (!hasStack(pn)) {
        if (pn->state != DevState::SurpriseRemoved)
            pn->state = DevState::Removed;
        return STATUS_SUCCESS;
    }
    return surpriseRemoveStack(_s, pn);
}

NTSTATUS Pnp::sendMinor(PDEVICE_OBJECT pdo, UCHAR minor)
{
    node(pdo);
    return sendPnp(pdo, minor);
}

void Pnp::deletePdo(PDEVICE_OBJECT pdo)
{
    DevNode* pn = node(pdo);
    if (hasStack(pn))
        surpriseRemove(pdo);
    else if (pn->pbus && pn->state != DevState::SurpriseRemoved)
        pn->pbus->surpriseRemoved(pdo);
    {
        std::lock_guard<std::mutex> lk(pn->mtxRemoval);
        if (pn->fRemoveOnLastClose || pn->fRemoving) {
            pn->fDeleteWhenRemoved = true;  // the removal deletes it
            return;
        }
    }
    deletePdoNow(_s, pn);
}

DevState Pnp::state(PDEVICE_OBJECT pdo) const { return node(pdo)->state; }

void Pnp::forgetBus(PDEVICE_OBJECT pdo)
{
    DevNode* pn = node(pdo);
    pn->pbus = nullptr;
    pn->fBusGone = true;
}

PDEVICE_OBJECT Pnp::top(PDEVICE_OBJECT pdo) const { return attachedTop(pdo); }

std::vector<PDEVICE_OBJECT> Pnp::pdos() const
{
    std::lock_guard<std::recursive_mutex> lk(_s.mtx);
    std::vector<PDEVICE_OBJECT> r;
    for (const auto& pn : _s.nodes)
        r.push_back(pn->pdo);
    return r;
}

void Pnp::setStartStatus(PDEVICE_OBJECT pdo, NTSTATUS st) { node(pdo)->stStart = st; }

void Pnp::setPendStart(PDEVICE_OBJECT pdo, bool fPend) { node(pdo)->fPendStart = fPend; }

// ---------------------------------------------------------------------------
// Drivers.
namespace {

NTSTATUS loadWith(State& s, PDRIVER_INITIALIZE entry, const std::string& service, void* pdl)
{
    {
        std::lock_guard<std::recursive_mutex> lk(s.mtx);
        for (const auto& d : s.drivers)
            if (lower(d->service) == lower(service))
                return STATUS_OBJECT_NAME_COLLISION;
    }
    createKeyPath(servicePath(service));
    auto rec = std::make_unique<DriverRec>();
    rec->service = service;
    rec->pdl = pdl;
    rec->regPath = widen(servicePath(service));
    rec->drvName = widen("\\Driver\\" + service);
    rec->svcName = widen(service);
    rec->usRegPath = countedView(rec->regPath);
    auto* drv = new DRIVER_OBJECT{};
    drv->Type = 4;
    drv->Size = sizeof(DRIVER_OBJECT);
    drv->DriverExtension = new DRIVER_EXTENSION{};
    drv->DriverExtension->DriverObject = drv;
    drv->DriverExtension->ServiceKeyName = countedView(rec->svcName);
    drv->DriverName = countedView(rec->drvName);
    drv->DriverInit = entry;
    for (auto& pfn : drv->MajorFunction)
        pfn = invalidRequest;
    rec->pdrv = drv;
    NTSTATUS st;
    {
        DriverCall dc;
        st = entry(drv, &rec->usRegPath);
    }
    if (!NT_SUCCESS(st)) {
        if (drv->DeviceObject)
            problem("a driver whose entry failed left device objects");
        else {
            delete drv->DriverExtension;
            delete drv;
            if (pdl)
                dlclose(pdl);
        }
        return st;
    }
    DriverRec* pd = rec.get();
    std::vector<PDEVICE_OBJECT> toStart;
    {
        std::lock_guard<std::recursive_mutex> lk(s.mtx);
        s.drivers.push_back(std::move(rec));
        if (s.fAutoEnumerate)
            for (const auto& pn : s.nodes)
                if ((pn->state == DevState::Present) && driverFor(s, pn.get()) == pd)
                    toStart.push_back(pn->pdo);
    }
    for (PDEVICE_OBJECT pdo : toStart)
        s.pKernel->pnp().enumerate(pdo);
    return st;
}

}  // namespace

NTSTATUS Kernel::loadDriver(PDRIVER_INITIALIZE entry, const std::string& service)
{
    return loadWith(*_ps, entry, service, nullptr);
}

NTSTATUS Kernel::loadDriver(const std::string& modulePath, const std::string& service)
{
    void* pdl = dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!pdl) {
        const char* sz = dlerror();
        problem("cannot load " + modulePath + ": " + (sz ? sz : "?"));
        return NTSTATUS(0xC0000135L);  // the image was not found or not loadable
    }
    void* pv = dlsym(pdl, "FxDriverEntry");
    if (!pv)
        pv = dlsym(pdl, "DriverEntry");
    if (!pv) {
        problem(modulePath + " has neither FxDriverEntry nor DriverEntry");
        dlclose(pdl);
        return NTSTATUS(0xC000007AL);  // entry point not found
    }
    return loadWith(*_ps, reinterpret_cast<PDRIVER_INITIALIZE>(pv), service, pdl);
}

void Kernel::unloadDriver(const std::string& service)
{
    DriverRec* pd = nullptr;
    {
        std::lock_guard<std::recursive_mutex> lk(_ps->mtx);
        for (const auto& d : _ps->drivers)
            if (lower(d->service) == lower(service))
                pd = d.get();
    }
    if (!pd)
        return;
    std::vector<DevNode*> nodes;
    {
        std::lock_guard<std::recursive_mutex> lk(_ps->mtx);
        for (const auto& pn : _ps->nodes)
            if (pn->pdriver == pd)
                nodes.push_back(pn.get());
    }
    for (DevNode* pn : nodes) {
        std::vector<HANDLE> open;
        {
            std::lock_guard<std::recursive_mutex> lk(_ps->mtx);
            for (const auto& h : _ps->fileHandles)
                if (bottomOf(h.second->fo.DeviceObject) == pn->pdo)
                    open.push_back(reinterpret_cast<HANDLE>(h.first));
        }
        if (!open.empty())
            problem("the driver " + service + " was unloaded with handles open; they were closed");
        bool fWasPending = pn->fRemoveOnLastClose;
        for (HANDLE h : open)
            io::close(h);
        if (!fWasPending && (hasStack(pn) || pn->state == DevState::SurpriseRemoved))
            doRemove(*_ps, pn);
    }
    PDRIVER_OBJECT drv = pd->pdrv;
    bool fLeft = drv->DeviceObject != nullptr;
    if (fLeft)
        problem("the driver " + service + " left device objects at unload");
    if (drv->DriverUnload) {
        DriverCall dc;
        drv->DriverUnload(drv);
    }
    if (!fLeft) {
        delete drv->DriverExtension;
        delete drv;
        if (pd->pdl)
            dlclose(pd->pdl);
    }
    std::lock_guard<std::recursive_mutex> lk(_ps->mtx);
    for (auto it = _ps->drivers.begin(); it != _ps->drivers.end(); ++it)
        if (it->get() == pd) {
            if (fLeft)
                _ps->zombies.push_back(std::move(*it));  // its devices still point at it
            _ps->drivers.erase(it);
            break;
        }
}

PDRIVER_OBJECT Kernel::driverObject(const std::string& service) const
{
    std::lock_guard<std::recursive_mutex> lk(_ps->mtx);
    for (const auto& d : _ps->drivers)
        if (lower(d->service) == lower(service))
            return d->pdrv;
    return nullptr;
}

bool Kernel::isLoaded(const std::string& service) const { return driverObject(service) != nullptr; }

void destroyKernelObjects(State& s)
{
    {
        // What a test's hooks hold may be gone already.
        std::lock_guard<std::mutex> lk(s.hookMtx);
        for (auto& f : s.hooks)
            f = nullptr;
    }
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::recursive_mutex> lk(s.mtx);
        workers.swap(s.workers);
    }
    for (auto& t : workers)
        t.join();
    for (;;) {
        std::string svc;
        {
            std::lock_guard<std::recursive_mutex> lk(s.mtx);
            if (s.drivers.empty())
                break;
            svc = s.drivers.back()->service;
        }
        s.pKernel->unloadDriver(svc);
    }
    for (;;) {
        DevNode* pn = nullptr;
        {
            std::lock_guard<std::recursive_mutex> lk(s.mtx);
            if (s.nodes.empty())
                break;
            pn = s.nodes.back().get();
        }
        pn->fRemoveOnLastClose = false;
        deletePdoNow(s, pn);
    }
    std::lock_guard<std::recursive_mutex> lk(s.mtx);
    for (FileRec* pf : s.files)
        delete pf;
    s.files.clear();
    s.fileHandles.clear();
    std::vector<PDEVICE_OBJECT> devs(s.allDevices.begin(), s.allDevices.end());
    for (PDEVICE_OBJECT d : devs)
        freeDevice(d);
    delete s.pBusDriver;
    for (auto& z : s.zombies) {
        delete z->pdrv->DriverExtension;
        delete z->pdrv;
        if (z->pdl)
            dlclose(z->pdl);
    }
    s.zombies.clear();
    for (PIRP irp : std::vector<PIRP>(s.irps.begin(), s.irps.end()))
        freeIrp(irp);
    for (PMDL m : s.mdls)
        delete m;
    s.mdls.clear();
    std::lock_guard<std::mutex> lkp(s.poolMtx);
    for (auto& b : s.blocks)
        std::free(b.first);
    s.blocks.clear();
}

}  // namespace kstub
