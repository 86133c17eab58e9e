// Export switch of the message user layer: libyek exports it, every other
// deliverable that carries a build of it keeps it hidden.
#pragma once

#include "kvexport.h"

#ifdef YEK_EXPORTS
#define YEK_API KV_EXPORT
#else
#define YEK_API KV_IMPORT
#endif
