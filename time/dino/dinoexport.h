// Export switch of the dino protocol and its clients and server steps: the
// digital-I/O library exports them, every other build keeps them hidden.
#pragma once

#include "kvexport.h"

#ifdef DINO_EXPORTS
#define DINO_API KV_EXPORT
#else
#define DINO_API KV_IMPORT
#endif
