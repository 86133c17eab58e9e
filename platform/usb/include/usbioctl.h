// The internal device control that submits a request block to the USB bus
// driver: Parameters.Others.Argument1 of the bus's stack location is the URB.
#pragma once

#include "wdm.h"

#define USB_SUBMIT_URB 0
#define IOCTL_INTERNAL_USB_SUBMIT_URB CTL_CODE(FILE_DEVICE_USB, USB_SUBMIT_URB, METHOD_NEITHER, FILE_ANY_ACCESS)

static_assert(IOCTL_INTERNAL_USB_SUBMIT_URB == 0x220003, "submit code");
