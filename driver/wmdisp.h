// The dispatch routines of the requests user mode sends to a board's device.
#pragma once

#include <wdm.h>

NTSTATUS kwmCreate(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTSTATUS kwmClose(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTSTATUS kwmCleanup(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTSTATUS kwmRead(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTSTATUS kwmIoctl(PDEVICE_OBJECT DeviceObject, PIRP Irp);
