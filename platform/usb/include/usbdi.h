// The bus driver's interface: request blocks (usb.h) and the internal
// submit request that carries them.
#pragma once

#include "usb.h"
#include "usbioctl.h"
