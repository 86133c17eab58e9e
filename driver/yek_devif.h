// The device interface of the kernel driver, shared by the driver and the
// user side: device and channel names, the control codes, the control block
// with its 32-bit form, the limits the driver enforces, the completion
// statuses and the read text. No logic of its own and no platform header:
// the statuses are this interface's own constants with the platform's values.
#pragma once

#include <cstddef>
#include <cstdint>

#include "yek.h"

// ---------------------------------------------------------------------------
// Names.

// Each board is named "%s_%d" from the base name and its slot index 0 to 7.
constexpr char szYekDevBaseName[] = "ZEDOZ_EVU";
constexpr char szYekDevNameFmt[] = "%s_%d";
constexpr int cYekDevSlots = 8;
// The device object and its symbolic link are these prefixes and the board's name.
constexpr char szYekDevObjPrefix[] = "\\Device\\";
constexpr char szYekDevLinkPrefix[] = "\\DosDevices\\";
// A user-mode device path is this prefix and the board's name, e.g. \\.\ZEDOZ_EVU_0.
constexpr char szYekDevUserPrefix[] = "\\\\.\\";
// A channel path: "%s\%s\%s" from the device path, the protocol's short name
// and the channel digit.
constexpr char szYekChanPathFmt[] = "%s\\%s\\%s";
// What the driver sees as the file name of an open: "\ppp\d", a backslash,
// the three-letter protocol name, a backslash and the channel digit.
constexpr size_t cchYekChanFile = 6;
constexpr size_t cchYekProtoName = 3;

// ---------------------------------------------------------------------------
// Control codes: device type in bits 16-31, access in 14-15, function in
// 2-13, transfer method in 0-1.

constexpr uint32_t yekCtlCode(uint32_t uDevType, uint32_t uFunction, uint32_t uMethod, uint32_t uAccess)
{
    return (uDevType << 16) | (uAccess << 14) | (uFunction << 2) | uMethod;
}

constexpr uint32_t uYekDevType = 0x22;    // an unknown device type
constexpr uint32_t uYekMethodNeither = 3; // the pointers pass unchanged
constexpr uint32_t uYekAnyAccess = 0;     // a handle without access rights may send them

constexpr uint32_t IOCTL_YEK_PROCHK = yekCtlCode(uYekDevType, 0x800, uYekMethodNeither, uYekAnyAccess);
constexpr uint32_t IOCTL_YEK_PUT = yekCtlCode(uYekDevType, 0x801, uYekMethodNeither, uYekAnyAccess);
constexpr uint32_t IOCTL_YEK_GET = yekCtlCode(uYekDevType, 0x802, uYekMethodNeither, uYekAnyAccess);
constexpr uint32_t IOCTL_YEK_XCH = yekCtlCode(uYekDevType, 0x803, uYekMethodNeither, uYekAnyAccess);

static_assert(IOCTL_YEK_PROCHK == 0x222003 && IOCTL_YEK_PUT == 0x222007, "control codes");
static_assert(IOCTL_YEK_GET == 0x22200B && IOCTL_YEK_XCH == 0x22200F, "control codes");

// ---------------------------------------------------------------------------
// The control block: the same block is input and output of every request.
// A record whose base is null or whose buffer is empty is absent.

struct YekIoc {
    YekMemStruct _cd;  // control down: exactly the bytes of the control sent
    YekMemStruct _dd;  // data down; the client's signature for the protocol check
    YekMemStruct _cu;  // control up: room for the answer's control
    YekMemStruct _du;  // data up: room for the answer's data
};

// The form a 32-bit process passes: the same twelve values as 32-bit addresses.
struct YekMemStruct32 {
    uint32_t _pchLimBuf;
    uint32_t _pchLimDat;
    uint32_t _pchBase;
};

struct YekIoc32 {
    YekMemStruct32 _cd;
    YekMemStruct32 _dd;
    YekMemStruct32 _cu;
    YekMemStruct32 _du;
};

constexpr size_t cbYekIoc = 96;
constexpr size_t cbYekIoc32 = 48;
constexpr size_t cYekIocValues = 12;

static_assert(sizeof(YekMemStruct) == 24, "a record is three 64-bit pointers");
static_assert(sizeof(YekIoc) == cbYekIoc, "the control block is 96 bytes");
static_assert(offsetof(YekIoc, _cd) == 0 && offsetof(YekIoc, _dd) == 24, "record offsets");
static_assert(offsetof(YekIoc, _cu) == 48 && offsetof(YekIoc, _du) == 72, "record offsets");
static_assert(sizeof(YekMemStruct32) == 12, "a 32-bit record is three 32-bit values");
static_assert(sizeof(YekIoc32) == cbYekIoc32, "the 32-bit control block is 48 bytes");
static_assert(offsetof(YekIoc32, _cu) == 24, "32-bit record offsets");
static_assert(cYekIocValues * sizeof(uint32_t) == cbYekIoc32, "twelve values");

// ---------------------------------------------------------------------------
// Limits.

// A record's buffer must be shorter than this.
constexpr size_t cbYekRecordLimit = 0x10000;
// The protocol check copies at most this many signature bytes.
constexpr size_t cbYekProchkMax = 2048;
// The room the user side gives for an answer's control.
constexpr size_t cbYekControlUp = 128;
// A read shorter than this returns nothing.
constexpr size_t cbYekReadMin = 1024;

// ---------------------------------------------------------------------------
// Completion statuses (the platform's status values).

constexpr int32_t stYekSuccess = 0;
constexpr int32_t stYekUnsuccessful = static_cast<int32_t>(0xC0000001u);
constexpr int32_t stYekNoSuchDevice = static_cast<int32_t>(0xC000000Eu);
constexpr int32_t stYekInsufficientResources = static_cast<int32_t>(0xC000009Au);
constexpr int32_t stYekCancelled = static_cast<int32_t>(0xC0000120u);
constexpr int32_t stYekDeviceConfigurationError = static_cast<int32_t>(0xC0000182u);

// ---------------------------------------------------------------------------
// The read text: the driver's part, then the board's part.

// The driver's short identifier and its version text.
constexpr char szYekReadDriverFmt[] = "did=%s vers=%s ";
// USB board: the slot's driver key name (wide text), then the adapter's name,
// organisation and architecture texts.
constexpr char szYekReadUsbFmt[] = "id=%ws name=%s org=%s arch=%s\n";
// PCI board: the same, then the interrupts and timer ticks counted so far.
constexpr char szYekReadPciFmt[] = "id=%ws name=%s org=%s arch=%s cintr=%u ctimer=%u\n";
