// Fatal assertions of the system. Every assertion names a fixed expression
// text, the source module (its name without extension, for example "list")
// and a fixed line number; __FILE__ and __LINE__ would give other values.
#pragma once

#include "kvexport.h"

// The backend that reports a broken invariant. It must not return: user mode
// prints the assertion report and aborts; the kernel driver installs its own
// routine that stops the system. A kernel build (KV_KERNEL) has no report:
// without a hook, or after one that returns, it traps.
typedef void (*FexAssertHook)(const char* szExpr, const char* szSrc, int iLine);

[[noreturn]] void fexAssertFail(const char* szExpr, const char* szSrc, int iLine);

// Installs pf (null restores the user-mode report) and returns the previous hook.
FexAssertHook fexSetAssertHook(FexAssertHook pf);

#ifndef KV_KERNEL
// The user-mode report: "Assertion failed: <expr>, file <src>, line <line>" on
// standard error, then abort.
[[noreturn]] void fexAssertReport(const char* szExpr, const char* szSrc, int iLine);
#endif

#define FEX_ASSERT(cond, szExpr, szSrc, iLine) \
    ((cond) ? (void)0 : fexAssertFail((szExpr), (szSrc), (iLine)))
