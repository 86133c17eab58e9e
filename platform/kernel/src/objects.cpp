// The object namespace: device objects, symbolic links, device stacks, and
// the properties and registry keys of physical device objects.
#include <cstdlib>

#include "state.h"

using namespace kstub;
using namespace kstub::detail;

namespace kstub::detail {

HANDLE openKeyHandle(const std::string& path);
void createKeyPath(const std::string& path);

DevNode* nodeOf(PDEVICE_OBJECT pdo)
{
    return pdo && pdo->Info ? pdo->Info->pnode : nullptr;
}

PDEVICE_OBJECT attachedTop(PDEVICE_OBJECT dev)
{
    State& s = cur();
    std::lock_guard<std::recursive_mutex> lk(s.mtx);
    while (dev->AttachedDevice)
        dev = dev->AttachedDevice;
    return dev;
}

void freeDevice(PDEVICE_OBJECT dev)
{
    State& s = cur();
    {
        std::lock_guard<std::recursive_mutex> lk(s.mtx);
        s.allDevices.erase(dev);
    }
    KeRemoveQueueDpc(&dev->Dpc);
    // A timer or a deferred call inside the extension that is still set
    // would fire into freed memory: take it out and say so.
    auto* lo = static_cast<char*>(dev->Info->pAlloc);
    auto* hi = lo + dev->Size;
    auto inside = [&](const void* p) { return p >= lo && p < hi; };
    {
        std::lock_guard<std::mutex> lk(s.timerMtx);
        for (auto it = s.timers.begin(); it != s.timers.end();)
            if (inside(*it)) {
                (*it)->Inserted = 0;
                it = s.timers.erase(it);
                problem("a timer in a device extension was still set when the device was deleted");
            } else {
                ++it;
            }
    }
    {
        std::lock_guard<std::mutex> lk(s.dpcMtx);
        for (auto it = s.dpcs.begin(); it != s.dpcs.end();)
            if (inside(*it)) {
                (*it)->Inserted = 0;
                it = s.dpcs.erase(it);
                problem("a deferred call in a device extension was still queued when the device was deleted");
            } else {
                ++it;
            }
    }
    void* pAlloc = dev->Info->pAlloc;
    delete dev->Info;
    std::free(pAlloc);
}

namespace {

void devIoDpc(PKDPC dpc, PVOID ctx, PVOID a1, PVOID a2)
{
    auto dev = static_cast<PDEVICE_OBJECT>(ctx);
    PIO_DPC_ROUTINE pfn = dev->Info->pfnDpc;
    pfn(dpc, dev, static_cast<PIRP>(a1), a2);
}

}  // namespace
}  // namespace kstub::detail

NTSTATUS IoCreateDevice(PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize,
                        PUNICODE_STRING DeviceName, DEVICE_TYPE DeviceType,
                        ULONG DeviceCharacteristics, BOOLEAN Exclusive, PDEVICE_OBJECT* DeviceObject)
{
    NTSTATUS st = STATUS_SUCCESS;
    if (takeFault(Fault::CreateDevice, &st))
        return st;
    if (!DriverObject || !DeviceObject)
        return STATUS_INVALID_PARAMETER;
    State& s = cur();
    std::string name = narrowUs(DeviceName);
    std::lock_guard<std::recursive_mutex> lk(s.mtx);
    if (!name.empty()) {
        if (name[0] != '\\')
            return STATUS_OBJECT_PATH_SYNTAX_BAD;
        if (s.devices.count(upper(name)) || s.links.count(upper(name)))
            return STATUS_OBJECT_NAME_COLLISION;
    }
    std::size_t cbDev = (sizeof(DEVICE_OBJECT) + 15) & ~std::size_t(15);
    std::size_t cbExt = (std::size_t(DeviceExtensionSize) + 15) & ~std::size_t(15);
    void* p = std::aligned_alloc(16, cbDev + cbExt);
    if (!p)
        fatal("out of memory");
    std::memset(p, 0, cbDev + cbExt);
    auto dev = static_cast<PDEVICE_OBJECT>(p);
    dev->Type = 3;
    dev->Size = USHORT(cbDev + cbExt);
    dev->ReferenceCount = 0;
    dev->DriverObject = DriverObject;
    dev->Flags = DO_DEVICE_INITIALIZING | (Exclusive ? DO_EXCLUSIVE : 0);
    dev->Characteristics = DeviceCharacteristics;
    dev->DeviceExtension = DeviceExtensionSize ? static_cast<char*>(p) + cbDev : nullptr;
    dev->DeviceType = DeviceType;
    dev->StackSize = 1;
    dev->Info = new KvDeviceInfo;
    dev->Info->name = name;
    dev->Info->pAlloc = p;
    dev->NextDevice = DriverObject->DeviceObject;
    DriverObject->DeviceObject = dev;
    if (!name.empty())
        s.devices[upper(name)] = dev;
    s.allDevices.insert(dev);
    *DeviceObject = dev;
    return STATUS_SUCCESS;
}

VOID IoDeleteDevice(PDEVICE_OBJECT DeviceObject)
{
    State& s = cur();
    bool fFree = false;
    {
        std::lock_guard<std::recursive_mutex> lk(s.mtx);
        KvDeviceInfo* pi = DeviceObject->Info;
        if (!pi || pi->fDeleted)
            fatal("IoDeleteDevice of a device that is deleted already");
        if (pi->attachedTo)
            problem("IoDeleteDevice of " + (pi->name.empty() ? std::string("a device") : pi->name) +
                    " that is still attached to a lower device");
        if (DeviceObject->AttachedDevice)
            problem("IoDeleteDevice of a device that has a device attached above it");
        pi->fDeleted = true;
        if (!pi->name.empty())
            s.devices.erase(upper(pi->name));
        PDRIVER_OBJECT drv = DeviceObject->DriverObject;
        for (PDEVICE_OBJECT* pp = &drv->DeviceObject; *pp; pp = &(*pp)->NextDevice)
            if (*pp == DeviceObject) {
                *pp = DeviceObject->NextDevice;
                break;
            }
        fFree = pi->cRef == 0;
    }
    if (fFree)
        freeDevice(DeviceObject);
}

namespace {

NTSTATUS createLink(PUNICODE_STRING SymbolicLinkName, PUNICODE_STRING DeviceName)
{
    NTSTATUS st = STATUS_SUCCESS;
    if (takeFault(Fault::CreateSymbolicLink, &st))
        return st;
    State& s = cur();
    std::string link = narrowUs(SymbolicLinkName), target = narrowUs(DeviceName);
    if (link.empty() || link[0] != '\\')
        return STATUS_OBJECT_NAME_INVALID;
    std::lock_guard<std::recursive_mutex> lk(s.mtx);
    if (s.links.count(upper(link)) || s.devices.count(upper(link)))
        return STATUS_OBJECT_NAME_COLLISION;
    s.links[upper(link)] = target;
    return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING SymbolicLinkName, PUNICODE_STRING DeviceName)
{
    return createLink(SymbolicLinkName, DeviceName);
}

NTSTATUS IoCreateUnprotectedSymbolicLink(PUNICODE_STRING SymbolicLinkName, PUNICODE_STRING DeviceName)
{
    return createLink(SymbolicLinkName, DeviceName);
}

NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING SymbolicLinkName)
{
    State& s = cur();
    std::lock_guard<std::recursive_mutex> lk(s.mtx);
    return s.links.erase(upper(narrowUs(SymbolicLinkName))) ? STATUS_SUCCESS
                                                            : STATUS_OBJECT_NAME_NOT_FOUND;
}

PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT SourceDevice, PDEVICE_OBJECT TargetDevice)
{
    if (takeFault(Fault::AttachDevice))
        return nullptr;
    State& s = cur();
    std::lock_guard<std::recursive_mutex> lk(s.mtx);
    if (TargetDevice->Info->fDeleted)
        return nullptr;
    PDEVICE_OBJECT top = attachedTop(TargetDevice);
    top->AttachedDevice = SourceDevice;
    SourceDevice->StackSize = CCHAR(top->StackSize + 1);
    SourceDevice->AlignmentRequirement = top->AlignmentRequirement;
    SourceDevice->Info->attachedTo = top;
    return top;
}

VOID IoDetachDevice(PDEVICE_OBJECT TargetDevice)
{
    State& s = cur();
    std::lock_guard<std::recursive_mutex> lk(s.mtx);
    PDEVICE_OBJECT above = TargetDevice->AttachedDevice;
    if (!above)
        fatal("IoDetachDevice of a device with nothing attached");
    above->Info->attachedTo = nullptr;
    TargetDevice->AttachedDevice = nullptr;
}

PDEVICE_OBJECT IoGetAttachedDevice(PDEVICE_OBJECT DeviceObject) { return attachedTop(DeviceObject); }

PDEVICE_OBJECT IoGetAttachedDeviceReference(PDEVICE_OBJECT DeviceObject)
{
    PDEVICE_OBJECT top = attachedTop(DeviceObject);
    ObReferenceObject(top);
    return top;
}

VOID ObReferenceObject(PVOID Object)
{
    auto dev = static_cast<PDEVICE_OBJECT>(Object);
    InterlockedIncrement(&dev->ReferenceCount);
}

VOID ObDereferenceObject(PVOID Object)
{
    auto dev = static_cast<PDEVICE_OBJECT>(Object);
    if (InterlockedDecrement(&dev->ReferenceCount) < 0)
        fatal("ObDereferenceObject below zero");
}

VOID IoInitializeDpcRequest(PDEVICE_OBJECT DeviceObject, PIO_DPC_ROUTINE DpcRoutine)
{
    KeInitializeDpc(&DeviceObject->Dpc, devIoDpc, DeviceObject);
    DeviceObject->Dpc.IoRoutine = reinterpret_cast<PVOID>(DpcRoutine);
    DeviceObject->Info->pfnDpc = DpcRoutine;
}

NTSTATUS IoGetDeviceProperty(PDEVICE_OBJECT DeviceObject, DEVICE_REGISTRY_PROPERTY DeviceProperty,
                             ULONG BufferLength, PVOID PropertyBuffer, PULONG ResultLength)
{
    NTSTATUS st = STATUS_SUCCESS;
    if (takeFault(Fault::GetDeviceProperty, &st))
        return st;
    DevNode* pn = nodeOf(DeviceObject);
    if (!pn)
        return STATUS_INVALID_DEVICE_REQUEST;
    std::u16string text;
    switch (DeviceProperty) {
    case DevicePropertyDriverKeyName:
        if (pn->props.driverKey.empty())
            return STATUS_OBJECT_NAME_NOT_FOUND;
        text = pn->props.driverKey;
        break;
    case DevicePropertyPhysicalDeviceObjectName:
        text = widen(DeviceObject->Info->name);
        break;
    case DevicePropertyEnumeratorName: {
        std::string id = pn->props.instanceId;
        text = widen(id.substr(0, id.find('\\')));
        break;
    }
    default:
        return STATUS_INVALID_PARAMETER;
    }
    ULONG cb = ULONG((text.size() + 1) * 2);
    if (ResultLength)
        *ResultLength = cb;
    if (BufferLength < cb)
        return STATUS_BUFFER_TOO_SMALL;
    std::memcpy(PropertyBuffer, text.c_str(), cb);
    return STATUS_SUCCESS;
}

NTSTATUS IoOpenDeviceRegistryKey(PDEVICE_OBJECT DeviceObject, ULONG DevInstKeyType, ACCESS_MASK,
                                 PHANDLE DevInstRegKey)
{
    NTSTATUS st = STATUS_SUCCESS;
    if (takeFault(Fault::OpenDeviceRegistryKey, &st))
        return st;
    DevNode* pn = nodeOf(DeviceObject);
    if (!pn || !DevInstRegKey)
        return STATUS_INVALID_DEVICE_REQUEST;
    std::string path;
    if (DevInstKeyType & PLUGPLAY_REGKEY_DEVICE)
        path = "\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\" + pn->props.instanceId +
               "\\Device Parameters";
    else if (DevInstKeyType & PLUGPLAY_REGKEY_DRIVER) {
        if (pn->props.driverKey.empty())
            return STATUS_OBJECT_NAME_NOT_FOUND;
        path = "\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class\\" +
               narrow(pn->props.driverKey);
    } else {
        return STATUS_INVALID_PARAMETER;
    }
    createKeyPath(path);
    *DevInstRegKey = openKeyHandle(path);
    return STATUS_SUCCESS;
}

namespace kstub {

PDEVICE_OBJECT Kernel::findDevice(const std::string& name) const
{
    std::lock_guard<std::recursive_mutex> lk(_ps->mtx);
    auto it = _ps->devices.find(upper(name));
    return it == _ps->devices.end() ? nullptr : it->second;
}

std::optional<std::string> Kernel::linkTarget(const std::string& link) const
{
    std::lock_guard<std::recursive_mutex> lk(_ps->mtx);
    auto it = _ps->links.find(upper(link));
    if (it == _ps->links.end())
        return std::nullopt;
    return it->second;
}

std::size_t Kernel::deviceCount() const
{
    std::lock_guard<std::recursive_mutex> lk(_ps->mtx);
    return _ps->allDevices.size();
}

std::size_t Kernel::openHandles() const
{
    std::lock_guard<std::recursive_mutex> lk(_ps->mtx);
    return _ps->fileHandles.size();
}

}  // namespace kstub
