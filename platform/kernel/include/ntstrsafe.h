// Bounded formatting for drivers, with the platform's format rules (see
// DbgPrint in wdm.h). The target is always zero-terminated; a text that does
// not fit is cut and STATUS_BUFFER_OVERFLOW returned.
#pragma once

#include "wdm.h"

// The largest count of characters a destination or a text may have.
#define NTSTRSAFE_MAX_CCH 2147483647

typedef char* NTSTRSAFE_PSTR;
typedef const char* NTSTRSAFE_PCSTR;

NTKERNELAPI NTSTATUS RtlStringCbVPrintfA(NTSTRSAFE_PSTR pszDest, size_t cbDest,
                                         NTSTRSAFE_PCSTR pszFormat, va_list argList);
NTKERNELAPI NTSTATUS RtlStringCbPrintfA(NTSTRSAFE_PSTR pszDest, size_t cbDest,
                                        NTSTRSAFE_PCSTR pszFormat, ...);
NTKERNELAPI NTSTATUS RtlStringCbLengthA(NTSTRSAFE_PCSTR psz, size_t cbMax, size_t* pcbLength);
