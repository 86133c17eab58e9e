// The toolchain's <ddk/ntstrsafe.h>, which needs the kernel's types first.
#pragma once

#include <wdm.h>

#include <ddk/ntstrsafe.h>
