// The framework loader stub linked into a driver module. Its entry,
// FxDriverEntry, is the module's entry point: it binds the framework (version
// 1.15), calls the driver's own DriverEntry (which the driver defines with C
// linkage) and, when the driver set an unload routine, wraps it so that the
// framework is unbound after it ran. Nothing more: the driver makes no
// framework call.
#pragma once

#include "wdm.h"

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath);
extern "C" __attribute__((visibility("default"))) NTSTATUS FxDriverEntry(PDRIVER_OBJECT DriverObject,
                                                                         PUNICODE_STRING RegistryPath);
