// The dispatch routines of the requests user mode sends to a board's device.
#pragma once

#include <wdm.h>

class Chan;
class WmMdl;

NTSTATUS kwmCreate(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTSTATUS kwmClose(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTSTATUS kwmCleanup(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTSTATUS kwmRead(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTSTATUS kwmIoctl(PDEVICE_OBJECT DeviceObject, PIRP Irp);
// The end of a request whose buffer could not be mapped: logged, the
// channel left, the request detached (everything unmapped) and completed
// with STATUS_INSUFFICIENT_RESOURCES.
NTSTATUS mapFailed(Chan* pcn, PIRP Irp, WmMdl* pmdl, const char* szWhat);
