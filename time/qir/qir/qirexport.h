// Export switch of board access. No deliverable of its own exports it; a
// deliverable that does defines QIR_EXPORTS.
#pragma once

#include "kvexport.h"

#ifdef QIR_EXPORTS
#define QIR_API KV_EXPORT
#else
#define QIR_API KV_IMPORT
#endif
