// Export switch of the message core: libyekc exports it, every other
// deliverable that carries a build of it keeps it hidden.
#pragma once

#include "kvexport.h"

#ifdef YEKC_EXPORTS
#define YEKC_API KV_EXPORT
#else
#define YEKC_API KV_IMPORT
#endif
