// Plug and play: card slots, device naming, the board built in the device
// extension, and the plug-and-play requests.
#pragma once

#include <wdm.h>

#include "wm.h"
#include "wmslot.h"

class Card;

// The text of the platform's IRP_MN_ constant of a minor code, or
// "IRP_MN_?????".
const char* pnpMinorName(UCHAR uMinor);
// The adapter that the device's "CardType" value names, or null.
const YekAdapt* readCardType(Wm* pwm, PDEVICE_OBJECT pdoPhys);
// The slot of the device's driver key (known, or the first free one), or null.
CardSlot* findCardSlot(Wm* pwm, PDEVICE_OBJECT pdoPhys);

NTSTATUS kwmAddDevice(Wm* pwm, PDRIVER_OBJECT DriverObject, PDEVICE_OBJECT pdoPhys);
NTSTATUS kwmPnp(PDEVICE_OBJECT DeviceObject, PIRP Irp);
NTSTATUS kwmRemoveDevice(Card* pca, PDEVICE_OBJECT DeviceObject, PIRP Irp);

// The board factory: the extension size and the construction of the board
// object of an adapter's class.
ULONG wmCardSize(const YekAdapt* pad);
Card* wmNewCard(const YekAdapt* pad, void* pvExtension, Wm* pwm, CardSlot* pci, PDEVICE_OBJECT pdo);
