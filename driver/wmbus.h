// The PCI board's entry points that plug and play calls: the board built in
// the device extension for an adapter of a class other than USB, and the
// deferred routine every device object is given. This build carries no PCI
// board: such a board is refused at AddDevice (its construction fails) and
// the deferred routine is never queued.
#pragma once

#include <wdm.h>

#include "wm.h"
#include "wmslot.h"

class Card;

// The extension size of a PCI board.
ULONG cbCardBus();
// Builds the PCI board in the extension.
Card* newCardBus(void* pvExtension, Wm* pwm, CardSlot* pci, PDEVICE_OBJECT pdo);
// Completes the finished requests of a PCI board.
VOID dpcForIsr(PKDPC Dpc, PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context);
