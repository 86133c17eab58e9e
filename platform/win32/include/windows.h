// The Win32 calls the user-mode libraries make, declared with Win32's names
// and signatures. On this machine they run over the stand-in kernel (files and
// device control) and over the platform clock (time and Sleep).
#pragma once

#include "kv_basetypes.h"
#include "devioctl.h"
#include "kv_crt.h"

#define WINAPI
#ifdef KERNEL32_EXPORTS
#define WINBASEAPI extern "C" __attribute__((visibility("default")))
#else
#define WINBASEAPI extern "C"
#endif

typedef char* LPSTR;
typedef const char* LPCSTR;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef DWORD* LPDWORD;
typedef BOOL* LPBOOL;

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct _OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    union {
        struct {
            DWORD Offset;
            DWORD OffsetHigh;
        } s;
        PVOID Pointer;
    } u;
    HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001
#define FILE_SHARE_WRITE 0x00000002
#define FILE_SHARE_DELETE 0x00000004
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_NORMAL 0x00000080
#define FILE_FLAG_OVERLAPPED 0x40000000

// System error codes that GetLastError reports. A failed file or device call
// sets the code that RtlNtStatusToDosError (ntoskrnl) gives for its status.
#define ERROR_SUCCESS 0
#define ERROR_INVALID_FUNCTION 1
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_INVALID_DATA 13
#define ERROR_NOT_READY 21
#define ERROR_BAD_COMMAND 22
#define ERROR_DEV_NOT_EXIST 55
#define ERROR_SEM_TIMEOUT 121
#define ERROR_INVALID_NAME 123
#define ERROR_BAD_PATHNAME 161
#define ERROR_ALREADY_EXISTS 183
#define ERROR_TIMEOUT 1460
#define ERROR_DEVICE_REMOVED 1617
#define ERROR_GEN_FAILURE 31
#define ERROR_NOT_SUPPORTED 50
#define ERROR_INVALID_PARAMETER 87
#define ERROR_INSUFFICIENT_BUFFER 122
#define ERROR_FILENAME_EXCED_RANGE 206
#define ERROR_ENVVAR_NOT_FOUND 203
#define ERROR_MORE_DATA 234
#define ERROR_IO_PENDING 997
#define ERROR_OPERATION_ABORTED 995
#define ERROR_DEVICE_NOT_CONNECTED 1167
#define ERROR_BAD_DEVICE 1200
#define ERROR_NO_SYSTEM_RESOURCES 1450
#define ERROR_DEVICE_NOT_AVAILABLE 4319
#define ERROR_BAD_CONFIGURATION 1610
#define ERROR_FILE_INVALID 1006
#define ERROR_NOACCESS 998

// Time since system start in milliseconds (the platform clock).
WINBASEAPI DWORD WINAPI GetTickCount(void);
WINBASEAPI ULONGLONG WINAPI GetTickCount64(void);
// Waits dwMilliseconds; on the test's manual clock it advances the clock.
WINBASEAPI void WINAPI Sleep(DWORD dwMilliseconds);

WINBASEAPI DWORD WINAPI GetEnvironmentVariableA(LPCSTR lpName, LPSTR lpBuffer, DWORD nSize);

WINBASEAPI DWORD WINAPI GetLastError(void);
WINBASEAPI void WINAPI SetLastError(DWORD dwErrCode);

// Opens "\\.\NAME" or "\\.\NAME\rest": NAME is looked up among the stand-in
// kernel's \DosDevices\ links, "rest" (with its leading backslash) is the
// file name the device's create request carries.
WINBASEAPI HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                     LPSECURITY_ATTRIBUTES lpSecurityAttributes,
                                     DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes,
                                     HANDLE hTemplateFile);
WINBASEAPI BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                                       DWORD nInBufferSize, LPVOID lpOutBuffer,
                                       DWORD nOutBufferSize, LPDWORD lpBytesReturned,
                                       LPOVERLAPPED lpOverlapped);
WINBASEAPI BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                                LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);
// Cleanup at once, then close when no request of the file is in flight.
WINBASEAPI BOOL WINAPI CloseHandle(HANDLE hObject);
// Cancels every request in flight on the file (the overlapped structure is
// not looked at).
WINBASEAPI BOOL WINAPI CancelIoEx(HANDLE hFile, LPOVERLAPPED lpOverlapped);
