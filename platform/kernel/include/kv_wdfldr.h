// The framework loader's bind interface, as the framework stub linked into a
// driver calls it. The stand-in records each bind and unbind (see
// kstub::Kernel::frameworkBinds); no framework call exists beyond these.
#pragma once

#include "wdm.h"

typedef struct _WDF_VERSION {
    ULONG Major;
    ULONG Minor;
    ULONG Build;
} WDF_VERSION;

typedef struct _WDF_BIND_INFO {
    ULONG Size;
    PCWSTR Component;
    WDF_VERSION Version;
} WDF_BIND_INFO, *PWDF_BIND_INFO;

// STATUS_OBJECT_TYPE_MISMATCH for a major version other than 1.
NTKERNELAPI NTSTATUS WdfVersionBind(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath,
                                    PWDF_BIND_INFO BindInfo, PVOID* ComponentGlobals);
NTKERNELAPI NTSTATUS WdfVersionUnbind(PUNICODE_STRING RegistryPath, PWDF_BIND_INFO BindInfo,
                                      PVOID ComponentGlobals);
