// Plug and play, card slots and device naming.
#include "wmpnp.h"

#include <new>
#include <ntstrsafe.h>

#include "wmbus.h"
#include "wmcard.h"
#include "wmusb.h"

static const char szSrc[] = "wmpnp";

namespace {

CardSlot g_mpSlot[MAX_CARD];

// The board's names while AddDevice runs.
struct DevNames {
    char _szName[80];
    UNICODE_STRING _usDevice;
    UNICODE_STRING _usLink;

    DevNames() : _szName(), _usDevice(), _usLink() {}
    ~DevNames()
    {
        RtlFreeUnicodeString(&_usDevice);
        RtlFreeUnicodeString(&_usLink);
    }
    DevNames(const DevNames&) = delete;
    DevNames& operator=(const DevNames&) = delete;

    NTSTATUS build(const char* szBase, int iCard)
    {
        RtlStringCbPrintfA(_szName, sizeof _szName, "%s_%d", szBase, iCard);
        NTSTATUS st = wide(&_usDevice, "\\Device\\%s");
        return NT_SUCCESS(st) ? wide(&_usLink, "\\DosDevices\\%s") : st;
    }

private:
    NTSTATUS wide(PUNICODE_STRING pus, const char* szFmt)
    {
        char sz[80];
        RtlStringCbPrintfA(sz, sizeof sz, szFmt, _szName);
        ANSI_STRING as;
        RtlInitAnsiString(&as, sz);
        return RtlAnsiStringToUnicodeString(pus, &as, TRUE);
    }
};

size_t wcchOf(const WCHAR* wsz, size_t cchMax)
{
    size_t n = 0;
    while (n < cchMax && wsz[n])
        ++n;
    return n;
}

bool sameKey(const WCHAR* a, const WCHAR* b)
{
    for (size_t i = 0; i < cchWmDriverKey; ++i) {
        if (a[i] != b[i])
            return false;
        if (a[i] == 0)
            return true;
    }
    return true;
}

// Destroys a board built in the extension of a device about to be deleted.
void dropCard(Card* pca, PDEVICE_OBJECT fdo)
{
    pca->~Card();
    IoDeleteDevice(fdo);
}

}  // namespace

CardSlot* wmCardSlots()
{
    return g_mpSlot;
}

void wmClearCardSlots()
{
    RtlZeroMemory(g_mpSlot, sizeof g_mpSlot);
}

const char* pnpMinorName(UCHAR uMinor)
{
    static const char* const mpsz[] = {
        "IRP_MN_START_DEVICE",
        "IRP_MN_QUERY_REMOVE_DEVICE",
        "IRP_MN_REMOVE_DEVICE",
        "IRP_MN_CANCEL_REMOVE_DEVICE",
        "IRP_MN_STOP_DEVICE",
        "IRP_MN_QUERY_STOP_DEVICE",
        "IRP_MN_CANCEL_STOP_DEVICE",
        "IRP_MN_QUERY_DEVICE_RELATIONS",
        "IRP_MN_QUERY_INTERFACE",
        "IRP_MN_QUERY_CAPABILITIES",
        "IRP_MN_QUERY_RESOURCES",
        "IRP_MN_QUERY_RESOURCE_REQUIREMENTS",
        "IRP_MN_QUERY_DEVICE_TEXT",
        "IRP_MN_FILTER_RESOURCE_REQUIREMENTS",
        nullptr,
        "IRP_MN_READ_CONFIG",
        "IRP_MN_WRITE_CONFIG",
        "IRP_MN_EJECT",
        "IRP_MN_SET_LOCK",
        "IRP_MN_QUERY_ID",
        "IRP_MN_QUERY_PNP_DEVICE_STATE",
        "IRP_MN_QUERY_BUS_INFORMATION",
        "IRP_MN_DEVICE_USAGE_NOTIFICATION",
        "IRP_MN_SURPRISE_REMOVAL",
    };
    const char* sz = uMinor < sizeof mpsz / sizeof mpsz[0] ? mpsz[uMinor] : nullptr;
    return sz ? sz : "IRP_MN_?????";
}

const YekAdapt* readCardType(Wm* pwm, PDEVICE_OBJECT pdoPhys)
{
    HANDLE h = nullptr;
    NTSTATUS st = IoOpenDeviceRegistryKey(pdoPhys, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &h);
    pwm->log(fWmDev, "IoOpenDeviceRegistryKey=%x", st);
    if (!NT_SUCCESS(st))
        return nullptr;
    ULONG uType = 0;
    st = wmQueryValueUlong(h, WM_WSTR("CardType"), &uType);
    pwm->log(fWmDev, "ZwQueryValueKey=%x", st);
    const YekAdapt* pad = nullptr;
    if (NT_SUCCESS(st)) {
        pwm->log(fWmDev, "CardType=%d", static_cast<int>(uType));
        WM_ASSERT(pwm->_mppad, "pwm->_mppad", szSrc);
        // The value is registry data: walk the list, never index it.
        const YekAdapt* const* ppad = pwm->_mppad;
        for (ULONG i = 0; *ppad && i < uType; ++i)
            ++ppad;
        pad = *ppad;
        pwm->log(fWmDev, "CardType %d=(%s)", static_cast<int>(uType), pad ? pad->_szAdaptName : "-nil-");
    } else if (st == STATUS_OBJECT_NAME_NOT_FOUND) {
        pwm->log(fWmDev, "\"CardType\" value not found");
    }
    ZwClose(h);
    return pad;
}

CardSlot* findCardSlot(Wm* pwm, PDEVICE_OBJECT pdoPhys)
{
    WCHAR wszKey[cchWmDriverKey] = {};
    ULONG cb = 0;
    NTSTATUS st = IoGetDeviceProperty(pdoPhys, DevicePropertyDriverKeyName, sizeof wszKey, wszKey, &cb);
    if (!NT_SUCCESS(st)) {
        pwm->log(fWmDev, "no driver key %x", st);
        return nullptr;
    }
    wszKey[cchWmDriverKey - 1] = 0;
    // An empty key would match every free slot.
    if (wcchOf(wszKey, cchWmDriverKey) == 0) {
        pwm->log(fWmDev, "no driver key %x", STATUS_OBJECT_NAME_NOT_FOUND);
        return nullptr;
    }
    CardSlot* pci = nullptr;
    for (int i = 0; i < MAX_CARD && !pci; ++i) {
        pwm->log(fWmDev, "try known driver key %d (%ws)", i, g_mpSlot[i]._wszKey);
        if (sameKey(g_mpSlot[i]._wszKey, wszKey))
            pci = &g_mpSlot[i];
    }
    for (int i = 0; i < MAX_CARD && !pci; ++i) {
        pwm->log(fWmDev, "try slot %d (%ws)", i, g_mpSlot[i]._wszKey);
        if (g_mpSlot[i]._wszKey[0] == 0) {
            pci = &g_mpSlot[i];
            RtlCopyMemory(pci->_wszKey, wszKey, sizeof wszKey);
        }
    }
    if (!pci) {
        pwm->log(fWmErr, "no free card slot");
        return nullptr;
    }
    pwm->log(fWmFlow, "driver key(%ws), index=%d", pci->_wszKey, static_cast<int>(pci - g_mpSlot));
    return pci;
}

ULONG wmCardSize(const YekAdapt* pad)
{
    return pad->_eClass == eAdaptUsb ? sizeof(CardUsb) : cbCardBus();
}

Card* wmNewCard(const YekAdapt* pad, void* pvExtension, Wm* pwm, CardSlot* pci, PDEVICE_OBJECT pdo)
{
    if (pad->_eClass == eAdaptUsb)
        return new (pvExtension) CardUsb(pwm, pci, pdo);
    return newCardBus(pvExtension, pwm, pci, pdo);
}

NTSTATUS kwmAddDevice(Wm* pwm, PDRIVER_OBJECT DriverObject, PDEVICE_OBJECT pPdo)
{
    pwm->log(fWmFlow, "kwmAddDevice");
    WM_ASSERT(pPdo, "pPdo", szSrc);
    const YekAdapt* pad = readCardType(pwm, pPdo);
    CardSlot* pci = pad ? findCardSlot(pwm, pPdo) : nullptr;
    if (!pad || !pci)
        return STATUS_NO_SUCH_DEVICE;
    int iCard = static_cast<int>(pci - g_mpSlot);
    pwm->log(fWmDev, "Device index (%d)", iCard);
    WM_ASSERT(iCard >= 0 && iCard < MAX_CARD, "iCard >= 0 && iCard < MAX_CARD", szSrc);
    WM_ASSERT(pwm->_szDevName, "pwm->_szDevName", szSrc);
    DevNames dn;
    NTSTATUS st = dn.build(pwm->_szDevName, iCard);
    if (!NT_SUCCESS(st))
        return st;
    pwm->log(fWmDev, "Device name (%s)", dn._szName);
    // "CardType" is registry data: a changed value for a known device is
    // refused, not a broken invariant.
    if (pci->_pad && pci->_pad != pad) {
        pwm->log(fWmErr, "CardType of slot %d changed from (%s) to (%s)", iCard, pci->_pad->_szAdaptName,
                 pad->_szAdaptName);
        return STATUS_NO_SUCH_DEVICE;
    }
    pci->_pad = pad;
    PDEVICE_OBJECT fdo = nullptr;
    st = IoCreateDevice(DriverObject, wmCardSize(pad), &dn._usDevice, FILE_DEVICE_UNKNOWN,
                        FILE_DEVICE_SECURE_OPEN, FALSE, &fdo);
    if (!NT_SUCCESS(st)) {
        pwm->log(fWmDev, "IoCreateDevice(%s) failed(%x)", dn._szName, st);
        return st;
    }
    IoInitializeDpcRequest(fdo, dpcForIsr);
    pwm->log(fWmDev, "Create SymLink for (%s)", dn._szName);
    st = IoCreateUnprotectedSymbolicLink(&dn._usLink, &dn._usDevice);
    if (!NT_SUCCESS(st) && st != STATUS_OBJECT_NAME_COLLISION) {
        pwm->log(fWmDev, "cant't create link(%x)", st);
        IoDeleteDevice(fdo);
        return st;
    }
    Card* pca = wmNewCard(pad, fdo->DeviceExtension, pwm, pci, fdo);
    if (!pca->isGood()) {
        pca->log(fWmErr, "Card construction failed");
        dropCard(pca, fdo);
        return STATUS_NO_SUCH_DEVICE;
    }
    fdo->Flags |= DO_BUFFERED_IO | DO_POWER_PAGABLE;
    pca->setLower(IoAttachDeviceToDeviceStack(fdo, pPdo));
    if (!pca->lower()) {
        pca->log(fWmErr, "IoAttachDevice failed, calling RemoveDevice()");
        dropCard(pca, fdo);
        return STATUS_NO_SUCH_DEVICE;
    }
    pwm->log(fWmFlow, "IoAttachDevice ok");
    fdo->Flags &= ~static_cast<ULONG>(DO_DEVICE_INITIALIZING);
    pwm->log(fWmDev, "AddDevice: SUCCESS: %p to %p->%p OK", fdo, pca->lower(), pPdo);
    return STATUS_SUCCESS;
}

NTSTATUS kwmRemoveDevice(Card* pca, PDEVICE_OBJECT, PIRP)
{
    pca->log(fWmFlow, "kwmRemoveDevice");
    return STATUS_SUCCESS;
}

NTSTATUS kwmPnp(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    Card* pca = static_cast<Card*>(DeviceObject->DeviceExtension);
    UCHAR uMinor = IoGetCurrentIrpStackLocation(Irp)->MinorFunction;
    pca->log(fWmFlow, "pnp 0x%x (%s)", static_cast<unsigned>(uMinor), pnpMinorName(uMinor));
    switch (uMinor) {
    case IRP_MN_START_DEVICE: {
        Irp->IoStatus.Status = STATUS_SUCCESS;
        NTSTATUS st = forwardIrpSync(pca->lower(), Irp);
        if (NT_SUCCESS(st))
            st = pca->pnpStartDevice(DeviceObject, Irp);
        return completeIrp(Irp, st, 0);
    }
    case IRP_MN_REMOVE_DEVICE: {
        pca->pnpStopDevice(DeviceObject, Irp);
        // The dispatch routines still in the board leave it before it goes
        // (the stop has ended what they could wait for); later ones are
        // refused.
        NTSTATUS stHold = IoAcquireRemoveLock(&pca->_rml, Irp);
        WM_ASSERT(NT_SUCCESS(stHold), "NT_SUCCESS(stHold)", szSrc);
        IoReleaseRemoveLockAndWait(&pca->_rml, Irp);
        Irp->IoStatus.Status = kwmRemoveDevice(pca, DeviceObject, Irp);
        PDEVICE_OBJECT pdoLower = pca->lower();
        NTSTATUS st = STATUS_SUCCESS;
        if (pdoLower) {
            IoSkipCurrentIrpStackLocation(Irp);
            st = IoCallDriver(pdoLower, Irp);
            IoDetachDevice(pdoLower);
        } else {
            completeIrp(Irp, STATUS_SUCCESS, 0);
        }
        pca->log(fWmDev, "pnp removal");
        dropCard(pca, DeviceObject);
        return st;
    }
    case IRP_MN_SURPRISE_REMOVAL:
        // Requests still on their way fail at the bus; later ones fail here.
        pca->pnpSurpriseRemoval();
        break;
    default:
        break;
    }
    IoSkipCurrentIrpStackLocation(Irp);
    return IoCallDriver(pca->lower(), Irp);
}
