// Opening a channel of the kernel driver and its control requests, shared by
// the device channel and the kernel call object: the same path, the same open
// and the same protocol check. Each caller records a failure in its own way.
#pragma once

#include <cstddef>

#include "kvwindows.h"
#include "yek_devif.h"

namespace KVdepYek100 {

// Room for the path "<szDev>\<protocol>\<szChan>" with its terminating zero.
constexpr size_t cchDrvChanPath = 260;

// What an open came to: the handle, the invalid handle value when there is
// none; after a failure also the status text and number to record.
struct DrvChanOpen {
    HANDLE h;
    const char* szErr;  // null when the channel is open and its protocol checked
    int iErr;
};

// Opens the channel of pup's protocol on device szDev, channel szChan, and
// checks that the driver's protocol begins with pup's signature. A missing
// name or a path that does not fit fails with "can't open" and no handle, and
// so does a failed open (with the system error code); a failed check keeps
// the handle, to be closed by the caller.
DrvChanOpen openDrvChannel(const YekProto* pup, const char* szDev, const char* szChan);

// One control request, the block being input and output.
BOOL drvIoctl(HANDLE h, DWORD dwCode, YekIoc* pioc);

// A down record of the c bytes at pchBase.
YekMemStruct drvDownRecord(const char* pchBase, size_t c);

// The answer's data in the area at pchBase, whose get request the driver
// wrote duReturned back into: the count runs from the caller's own base to
// the returned data limit (nothing when the limit is below the base), so a
// base the driver changed does not move it.
YekMemStruct drvAnswerRecord(const char* pchBase, const YekMemStruct& duReturned);

// Closes the handle of an open that got one; a null or invalid handle stays.
void closeDrvChannel(HANDLE h);

}  // namespace KVdepYek100
