// Export switch of device access: libvaq exports it, every other deliverable
// that carries a build of it keeps it hidden.
#pragma once

#include "kvexport.h"

#ifdef VAQ_EXPORTS
#define VAQ_API KV_EXPORT
#else
#define VAQ_API KV_IMPORT
#endif
