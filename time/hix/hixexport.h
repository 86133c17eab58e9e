// Export switch of the burst-counter library: hix_burst exports its thirteen
// flat functions under their plain names.
#pragma once

#include "kvexport.h"

#ifdef HIX_EXPORTS
#define HIX_API KV_EXPORT
#else
#define HIX_API KV_IMPORT
#endif
