// The platform's windows.h for the system's own units. Its error header
// defines E_FAIL as an HRESULT, which the system never uses; the macro goes,
// so that Failable's state of that name stays visible after it.
#pragma once

#include <windows.h>

#ifdef E_FAIL
#undef E_FAIL
#endif
