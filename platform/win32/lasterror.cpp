// The calling thread's last error.
#include <windows.h>

namespace {
thread_local DWORD t_dwLastError = 0;
}

DWORD WINAPI GetLastError(void) { return t_dwLastError; }

void WINAPI SetLastError(DWORD dwErrCode) { t_dwLastError = dwErrCode; }
