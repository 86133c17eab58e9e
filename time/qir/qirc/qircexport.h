// Export switch of the board protocols and card tables: libqirc exports them,
// every other deliverable that carries a build of them keeps them hidden.
#pragma once

#include "kvexport.h"

#ifdef QIRC_EXPORTS
#define QIRC_API KV_EXPORT
#else
#define QIRC_API KV_IMPORT
#endif
