// Win32 files over the stand-in kernel's I/O manager. Every failure sets the
// last error from the status with RtlNtStatusToDosError.
#include <windows.h>

#include "kv_kernel.h"

namespace {

BOOL fail(NTSTATUS st)
{
    SetLastError(RtlNtStatusToDosError(st));
    return FALSE;
}

bool isPseudo(HANDLE h) { return h == nullptr || h == INVALID_HANDLE_VALUE; }

// The end of a device control or a read: the byte count and the overlapped
// block get the request's outcome, then the status becomes the result.
BOOL transferDone(NTSTATUS st, ULONG_PTR info, LPDWORD pcb, LPOVERLAPPED pov)
{
    if (pcb)
        *pcb = DWORD(info);
    if (pov) {
        pov->Internal = ULONG_PTR(ULONG(st));
        pov->InternalHigh = info;
    }
    if (!NT_SUCCESS(st))
        return fail(st);
    return TRUE;
}

}  // namespace

HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD,
                          DWORD dwFlagsAndAttributes, HANDLE)
{
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE h = nullptr;
    NTSTATUS st = kstub::io::create(lpFileName, &h, dwFlagsAndAttributes & FILE_FLAG_OVERLAPPED);
    if (!NT_SUCCESS(st)) {
        fail(st);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return h;
}

BOOL WINAPI DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer,
                            DWORD nInBufferSize, LPVOID lpOutBuffer, DWORD nOutBufferSize,
                            LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped)
{
    if (isPseudo(hDevice))
        return fail(STATUS_INVALID_HANDLE);
    ULONG_PTR info = 0;
    NTSTATUS st = kstub::io::ioctl(hDevice, dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer,
                                   nOutBufferSize, &info);
    return transferDone(st, info, lpBytesReturned, lpOverlapped);
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped)
{
    if (isPseudo(hFile))
        return fail(STATUS_INVALID_HANDLE);
    ULONG_PTR info = 0;
    NTSTATUS st = kstub::io::read(hFile, lpBuffer, nNumberOfBytesToRead, &info);
    return transferDone(st, info, lpNumberOfBytesRead, lpOverlapped);
}

BOOL WINAPI CloseHandle(HANDLE hObject)
{
    if (isPseudo(hObject))
        return fail(STATUS_INVALID_HANDLE);
    NTSTATUS st = kstub::io::close(hObject);
    if (!NT_SUCCESS(st))
        return fail(st);
    return TRUE;
}

BOOL WINAPI CancelIoEx(HANDLE hFile, LPOVERLAPPED)
{
    NTSTATUS st = kstub::io::cancel(hFile);
    if (!NT_SUCCESS(st))
        return fail(st);
    return TRUE;
}
