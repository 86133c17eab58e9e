// Export switch of the time-interval analyzer: its own library exports it,
// every other deliverable that carries a build of it keeps it hidden.
#pragma once

#include "kvexport.h"

#ifdef MORU_EXPORTS
#define MORU_API KV_EXPORT
#else
#define MORU_API KV_IMPORT
#endif
