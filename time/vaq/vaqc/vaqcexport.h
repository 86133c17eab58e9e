// Export switch of the device-access protocol: libvaqc exports it, every other
// deliverable that carries a build of it keeps it hidden.
#pragma once

#include "kvexport.h"

#ifdef VAQC_EXPORTS
#define VAQC_API KV_EXPORT
#else
#define VAQC_API KV_IMPORT
#endif
