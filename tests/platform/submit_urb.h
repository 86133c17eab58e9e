// What a function driver does with a URB: a synchronous internal request to
// the device, waited for when it pends.
#pragma once

#include "usbdi.h"

inline NTSTATUS submitUrb(PDEVICE_OBJECT pdo, PURB urb)
{
    KEVENT ev;
    KeInitializeEvent(&ev, NotificationEvent, FALSE);
    IO_STATUS_BLOCK iosb{};
    PIRP irp = IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_SUBMIT_URB, pdo, nullptr, 0, nullptr, 0, TRUE,
                                             &ev, &iosb);
    IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = urb;
    NTSTATUS st = IoCallDriver(pdo, irp);
    if (st == STATUS_PENDING) {
        KeWaitForSingleObject(&ev, Executive, KernelMode, FALSE, nullptr);
        st = iosb.Status;
    }
    return st;
}
