// The basic types of the platform, as both its user-mode and its kernel-mode
// declarations use them. Sizes are those of Windows x64 (LLP64): LONG, ULONG
// and DWORD are 32 bits wide, pointers and the _PTR types 64 bits, WCHAR is a
// 16-bit UTF-16 code unit.
#pragma once

#include <cstddef>
#include <cstdint>

typedef void VOID;
typedef char CHAR;
typedef unsigned char UCHAR;
typedef unsigned char BYTE;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef uint16_t WORD;
typedef int INT;
typedef unsigned int UINT;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef uint32_t DWORD;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef uint64_t DWORD64;
typedef uint64_t ULONG64;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef size_t SIZE_T;
typedef unsigned char BOOLEAN;
typedef int BOOL;
typedef char16_t WCHAR;

typedef void* PVOID;
typedef const void* PCVOID;
typedef void* HANDLE;
typedef HANDLE* PHANDLE;
typedef CHAR* PCHAR;
typedef CHAR* PSTR;
typedef const CHAR* PCSTR;
typedef UCHAR* PUCHAR;
typedef USHORT* PUSHORT;
typedef ULONG* PULONG;
typedef LONG* PLONG;
typedef ULONG_PTR* PULONG_PTR;
typedef WCHAR* PWCHAR;
typedef WCHAR* PWSTR;
typedef const WCHAR* PCWSTR;
typedef BOOLEAN* PBOOLEAN;

typedef LONG NTSTATUS;

typedef union _LARGE_INTEGER {
    struct {
        ULONG LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

typedef LARGE_INTEGER PHYSICAL_ADDRESS;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define NT_SUCCESS(s) (((NTSTATUS)(s)) >= 0)
#define NT_ERROR(s) ((((ULONG)(s)) >> 30) == 3)

static_assert(sizeof(ULONG) == 4 && sizeof(DWORD) == 4 && sizeof(LONG) == 4, "32-bit LONG");
static_assert(sizeof(ULONG_PTR) == 8 && sizeof(PVOID) == 8, "64-bit pointers");
static_assert(sizeof(WCHAR) == 2, "16-bit WCHAR");
static_assert(sizeof(LARGE_INTEGER) == 8, "LARGE_INTEGER");
