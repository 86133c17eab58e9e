// The driver entry: the driver-wide object, the card module's static
// objects, the debug mask from the service key, the dispatch table; and the
// unload routine.
#include <new>

#include "wm.h"
#include "wmdisp.h"
#include "wmpnp.h"

static const char szSrc[] = "wm";

namespace {

// The image runs no static constructors: the object is built in place at entry.
alignas(Wm) unsigned char g_mpWm[sizeof(Wm)];
Wm* g_pwm = nullptr;
const YekMod* g_pumChosen = nullptr;
FexAssertHook g_pfAssertBefore = nullptr;
PVOID volatile g_pvPoint = nullptr;  // the WmPointHook; driver threads read it beside the test's changes

NTSTATUS wmAddDevice(PDRIVER_OBJECT DriverObject, PDEVICE_OBJECT PhysicalDeviceObject)
{
    return kwmAddDevice(g_pwm, DriverObject, PhysicalDeviceObject);
}

// The mask from the value "Debug" of the service key; the mask stays as it
// is when the key or the value is missing or the value holds over 4 bytes.
void readDebugMask(Wm* pwm, PUNICODE_STRING RegistryPath)
{
    OBJECT_ATTRIBUTES oa;
    InitializeObjectAttributes(&oa, RegistryPath, 0, nullptr, nullptr);
    HANDLE h = nullptr;
    if (!NT_SUCCESS(ZwOpenKey(&h, GENERIC_READ, &oa)))
        return;
    if (NT_SUCCESS(wmQueryValueUlong(h, WM_WSTR("Debug"), &pwm->_fDebug))) {
        pwm->log(fWmErr, "entry version=(%s)", pwm->_szVers);
        pwm->log(fWmErr, "debug=%x", pwm->_fDebug);
    }
    ZwClose(h);
}

}  // namespace

NTSTATUS wmQueryValueUlong(HANDLE hKey, PCWSTR wszName, ULONG* pu)
{
    UNICODE_STRING usName;
    RtlInitUnicodeString(&usName, wszName);
    // Zero-filled, so that a value of fewer than 4 bytes leaves the high bytes 0.
    alignas(KEY_VALUE_PARTIAL_INFORMATION) UCHAR mpb[16] = {};
    ULONG cbResult = 0;
    NTSTATUS st = ZwQueryValueKey(hKey, &usName, KeyValuePartialInformation, mpb, sizeof mpb, &cbResult);
    if (NT_SUCCESS(st))
        RtlCopyMemory(pu, reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(mpb)->Data, sizeof *pu);
    return st;
}

Wm* wmDriver()
{
    return g_pwm;
}

const YekMod* wmSetCardModule(const YekMod* pum)
{
    const YekMod* pumBefore = g_pumChosen;
    g_pumChosen = pum;
    return pumBefore;
}

void wmImageLoad()
{
    RtlZeroMemory(g_mpWm, sizeof g_mpWm);
    g_pwm = nullptr;
    g_pumChosen = nullptr;
    wmSetPointHook(nullptr);
    wmClearCardSlots();
}

WmPointHook wmSetPointHook(WmPointHook pfn)
{
    return reinterpret_cast<WmPointHook>(InterlockedExchangePointer(&g_pvPoint, reinterpret_cast<PVOID>(pfn)));
}

void wmPoint(WmPoint ePoint)
{
    if (auto pfn = reinterpret_cast<WmPointHook>(ReadPointerAcquire(&g_pvPoint)))
        pfn(ePoint);
}

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath)
{
    DbgPrint("kavorqir load\n");
    Wm* pwm = new (g_mpWm) Wm(g_pumChosen ? g_pumChosen : wmCarriedModule());
    pwm->_fDebug = fWmDebugDefault;
    g_pwm = pwm;
    // From here a broken invariant anywhere in the driver stops the system.
    g_pfAssertBefore = fexSetAssertHook(wmAssert);
    if (pwm->_pum->_pFct)
        pwm->_pum->_pFct();
    DriverObject->DriverExtension->AddDevice = wmAddDevice;
    DriverObject->DriverUnload = kwmUnload;
    readDebugMask(pwm, RegistryPath);
    DriverObject->MajorFunction[IRP_MJ_CREATE] = kwmCreate;
    DriverObject->MajorFunction[IRP_MJ_CLOSE] = kwmClose;
    DriverObject->MajorFunction[IRP_MJ_READ] = kwmRead;
    DriverObject->MajorFunction[IRP_MJ_DEVICE_CONTROL] = kwmIoctl;
    DriverObject->MajorFunction[IRP_MJ_CLEANUP] = kwmCleanup;
    DriverObject->MajorFunction[IRP_MJ_PNP] = kwmPnp;
    WM_ASSERT(DriverObject->DriverExtension->AddDevice, "DriverObject->DriverExtension->AddDevice", szSrc);
    WM_ASSERT(DriverObject->DriverUnload, "DriverObject->DriverUnload", szSrc);
    return STATUS_SUCCESS;
}

VOID kwmUnload(PDRIVER_OBJECT)
{
    DbgPrint("kavorqir unload\n");
    // The image goes away: assertions of this process no longer stop it.
    fexSetAssertHook(g_pfAssertBefore);
    g_pfAssertBefore = nullptr;
}
