#include "kv_kmdf_stub.h"

#include "kv_wdfldr.h"

namespace {

WDF_BIND_INFO g_bind = {sizeof(WDF_BIND_INFO), u"KmdfLibrary", {1, 15, 0}};
PVOID g_pvGlobals = nullptr;
PDRIVER_UNLOAD g_pfnDriverUnload = nullptr;
PUNICODE_STRING g_pusRegistryPath = nullptr;

VOID FxStubDriverUnload(PDRIVER_OBJECT DriverObject)
{
    if (g_pfnDriverUnload)
        g_pfnDriverUnload(DriverObject);
    WdfVersionUnbind(g_pusRegistryPath, &g_bind, g_pvGlobals);
}

}  // namespace

NTSTATUS FxDriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath)
{
    g_pusRegistryPath = RegistryPath;
    NTSTATUS st = WdfVersionBind(DriverObject, RegistryPath, &g_bind, &g_pvGlobals);
    if (!NT_SUCCESS(st))
        return st;
    st = DriverEntry(DriverObject, RegistryPath);
    if (!NT_SUCCESS(st)) {
        WdfVersionUnbind(RegistryPath, &g_bind, g_pvGlobals);
        return st;
    }
    if (DriverObject->DriverUnload) {
        g_pfnDriverUnload = DriverObject->DriverUnload;
        DriverObject->DriverUnload = FxStubDriverUnload;
    }
    return st;
}
