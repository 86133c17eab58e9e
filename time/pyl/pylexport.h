// Export switch of the digital-I/O initializer and board multiplexer: the
// digital-I/O library exports them.
#pragma once

#include "kvexport.h"

#ifdef PYL_EXPORTS
#define PYL_API KV_EXPORT
#else
#define PYL_API KV_IMPORT
#endif
