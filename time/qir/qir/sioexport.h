// Export switch of the sio channel client: the digital-I/O library exports
// it, every other build of it keeps it hidden.
#pragma once

#include "kvexport.h"

#ifdef SIO_EXPORTS
#define SIO_API KV_EXPORT
#else
#define SIO_API KV_IMPORT
#endif
