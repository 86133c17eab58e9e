// The toolchain's <usbdi.h>, which needs the kernel's types first.
#pragma once

#include <wdm.h>

#include_next <usbdi.h>
