// The frame of the kernel driver: the driver-wide object Wm with the card
// module it carries, the class-masked debug log, the assertion that stops the
// system, and the two request routines every dispatch routine uses.
#pragma once

#include <wdm.h>

#include "fexassert.h"
#include "yekad.h"

// Debug classes: a line is written when its class bit is set in Wm::_fDebug.
const ULONG fWmErr = 0x1;       // errors, and the two entry lines
const ULONG fWmFlow = 0x2;      // general flow
const ULONG fWmSched = 0x4;     // PCI channel scheduler
const ULONG fWmIntr = 0x8;      // PCI interrupts
const ULONG fWmTimerSet = 0x10; // PCI timer set-up
const ULONG fWmTick = 0x20;     // PCI timer ticks
const ULONG fWmReq = 0x40;      // request flow of control requests
const ULONG fWmUsb = 0x80;      // USB transfers and firmware writes
const ULONG fWmDev = 0x100;     // device creation detail
const ULONG fWmIoc = 0x200;     // control request detail
const ULONG fWmDebugDefault = fWmErr | fWmFlow | fWmDev | fWmIoc;  // 0x303

// The buffers of a log line (the line is cut to fit, never overrun).
const size_t cbWmLogPrefix = 80;
const size_t cbWmLogMessage = 160;

// The stop code of a broken invariant.
const ULONG uWmBugCheck = 0x2A0001;

// The pool of every block the driver allocates: non-paged, not executable.
const POOL_TYPE ePoolWm = NonPagedPoolNx;

// The driver's wide literals: the platform's WCHAR is wchar_t, the stand-in
// kernel's char16_t.
#ifdef _WIN32
#define WM_WSTR(s) L##s
#else
#define WM_WSTR(s) u##s
#endif

// The driver-wide object: one instance, built in place by the driver entry.
class Wm {
public:
    explicit Wm(const YekMod* pum);

    // A module log line "kqir: <message>" when the class bit is set.
    void log(ULONG fClass, const char* szFmt, ...) const;
    void vlog(ULONG fClass, const char* szFmt, va_list ap) const;
    bool isLogged(ULONG fClass) const { return (_fDebug & fClass) != 0; }

    const char* _szDid;      // short identifier, prefix of every line
    const char* _szVers;     // version text
    const char* _szDevName;  // device base name
    const YekMod* _pum;      // the card module carried
    const YekAdapt* const* _mppad;  // its null-terminated adapter list
    ULONG _fDebug;           // debug mask
};

// The version text: version number, two blanks, the build time in ISO 8601
// with its offset from UTC, one blank (generated at configure time).
extern const char szWmVersion[];

// The driver-wide object once the entry has built it, else null.
Wm* wmDriver();

// The card module the driver carries: ykQir (wm_module.cpp); a test's build
// of the driver module may carry another.
const YekMod* wmCarriedModule();
// The card module the next driver entry takes; null gives back the module
// the driver carries. For tests that link the driver code directly.
const YekMod* wmSetCardModule(const YekMod* pum);
// Puts the driver's static storage back to its state at image load (the
// driver-wide object, the card slots and the module choice), as loading the
// image afresh would. For tests that link the driver code directly.
void wmImageLoad();

// Named points of the driver where a test that links the driver code
// directly holds the thread that passes them.
enum WmPoint {
    eWmPointIoctlEnd,                // a request the dispatch ends itself: its channel left, the request not yet detached
    eWmPointUsbIdleDownload,         // a USB start holds the open/close lock, its idle download not yet begun
    eWmPointUsbRequest,              // a USB channel's request found the board there, nothing sent yet
    eWmPointUsbSelectConfiguration,  // a USB start before its select configuration
    eWmPointUsbDownload,             // a USB download has held the CPU, no record sent yet
    eWmPointUsbRemoval,              // a USB surprise removal has marked the board removed, no pipe aborted yet
    eWmPointBusStart,                // a PCI start begun, nothing of an earlier start stopped yet
    eWmPointBusBound,                // a PCI start has bound the new card object's channels, the board not yet started
    eWmPointDispatch,                // a request (create, close, cleanup, read, device control) is in its dispatch routine, nothing of it done yet
    eWmPointBusCancelled,            // a PCI cancel routine has completed the request it cancelled
};
typedef void (*WmPointHook)(WmPoint ePoint);
// Sets the hook called at every point (null: none, as at image load) and
// returns the one before. For tests that link the driver code directly.
WmPointHook wmSetPointHook(WmPointHook pfn);
// Calls the hook, if one is set.
void wmPoint(WmPoint ePoint);

// Stops the system: KeBugCheckEx with uWmBugCheck, the first 12 characters
// of the source name packed four to a parameter, and the line. It is the
// assertion hook of the driver's builds of the base library and message core.
[[noreturn]] void wmAssert(const char* szExpr, const char* szSrc, int iLine);
// The three parameters wmAssert packs the source name into: each character,
// sign-extended from 8 bits, is added at bits (3 - i % 4) * 8 of word i / 4.
void wmAssertWords(const char* szSrc, ULONG_PTR mpw[3]);

// What the kernel has in place of the C++ library: operator new takes a
// block of the driver's pool (null when there is none; the kernel build
// checks every new), delete gives it back and ignores null, and a call of a
// pure virtual function is a broken invariant. The kernel image's operators
// call them (wm_cxxabi.cpp).
void* wmNew(size_t cb);
void wmDelete(void* pv);
[[noreturn]] void wmPureVirtual();

// The driver's assertions: a fixed expression text, the source module, the line.
#define WM_ASSERT(cond, szExpr, szSrc) FEX_ASSERT((cond), (szExpr), (szSrc), __LINE__)

// The first four data bytes of a registry value under the key, zero-filled
// when the value is shorter; a value over 4 bytes fails with the status of
// the query, and *pu is then left as it is.
NTSTATUS wmQueryValueUlong(HANDLE hKey, PCWSTR wszName, ULONG* pu);

// Completes the request with the status and information; returns the status.
NTSTATUS completeIrp(PIRP pIrp, NTSTATUS st, ULONG_PTR uInfo);
// Passes the request to the lower driver and waits until it is done there;
// the request stays with the caller, who completes it.
NTSTATUS forwardIrpSync(PDEVICE_OBJECT pdoLower, PIRP pIrp);

// The entry and unload routines.
extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath);
VOID kwmUnload(PDRIVER_OBJECT DriverObject);
