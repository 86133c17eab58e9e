// The toolchain's <ddk/usbdlib.h>, which needs the USB types first and
// declares the USBD library's routines without C linkage: they are C
// routines of the platform's USBD.SYS.
#pragma once

#include <usbdi.h>

extern "C" {
#include <ddk/usbdlib.h>
}
