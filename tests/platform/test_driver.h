// A small function driver for the I/O manager and plug-and-play tests: one
// device per physical device object, "\Device\TESTDEV_<n>" with the link
// "\DosDevices\TESTDEV_<n>", that records what reaches it.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "kv_kernel.h"

namespace testdrv {

constexpr ULONG kIoctlEcho = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_NEITHER, FILE_ANY_ACCESS);
constexpr ULONG kIoctlBlock = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_NEITHER, FILE_ANY_ACCESS);
constexpr ULONG kIoctlBuffered = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x802, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG kIoctlFail = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x803, METHOD_NEITHER, FILE_ANY_ACCESS);
// Answers "pong" (4 bytes, Information 4) and completes with the status that
// the input's first 4 bytes hold.
constexpr ULONG kIoctlBufferedStatus = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x804, METHOD_BUFFERED, FILE_ANY_ACCESS);
// The output buffer through an MDL: the out-direct code writes "direct" and
// the input length there (Information: its length), the in-direct code only
// looks at it.
constexpr ULONG kIoctlInDirect = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x805, METHOD_IN_DIRECT, FILE_ANY_ACCESS);
constexpr ULONG kIoctlOutDirect = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x806, METHOD_OUT_DIRECT, FILE_ANY_ACCESS);
// Slips of the pending rule: completes, then returns STATUS_PENDING without
// having marked the request; marks it, completes and returns success.
constexpr ULONG kIoctlPendUnmarked = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x810, METHOD_NEITHER, FILE_ANY_ACCESS);
constexpr ULONG kIoctlMarkedNoPend = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x811, METHOD_NEITHER, FILE_ANY_ACCESS);
// Probes the caller's input for reading and output for modifying itself, as
// the board driver does, with Record::onProbes called between the two:
// STATUS_ACCESS_VIOLATION when one is refused.
constexpr ULONG kIoctlProbeBoth = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x807, METHOD_NEITHER, FILE_ANY_ACCESS);
// Completes with STATUS_SUCCESS and returns STATUS_UNSUCCESSFUL.
constexpr ULONG kIoctlStatusMismatch = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x812, METHOD_NEITHER, FILE_ANY_ACCESS);

struct Seen {
    UCHAR major;
    UCHAR minor;
    std::string fileName;  // of the file object, 8-bit
    PVOID fsContext;
    ULONG code;
    PVOID type3, userBuffer, systemBuffer;
    ULONG cbIn, cbOut;
    KPROCESSOR_MODE mode;
    std::string systemIn;  // the first cbIn bytes of the system buffer (device control)
    PVOID mdlVa;           // the request's MDL: its address, count and lock
    ULONG cbMdl;
    bool fMdlLocked;
};

struct Record {
    std::mutex mtx;
    std::vector<Seen> seen;
    std::vector<PIRP> blocked;  // kIoctlBlock requests waiting
    int cStart = 0, cRemove = 0, cUnload = 0;
    std::function<void()> onRemove;  // called as IRP_MN_REMOVE_DEVICE arrives, before it goes down
    std::function<void()> onProbes;  // called between the probes of kIoctlProbeBoth
    std::vector<UCHAR> seenMajors() { std::lock_guard<std::mutex> lk(mtx); std::vector<UCHAR> r; for (auto& s : seen) r.push_back(s.major); return r; }
};

Record& record();
void reset();

// Completes the oldest blocked request with st; false when none waits.
bool releaseBlocked(NTSTATUS st);
std::size_t blockedCount();

NTSTATUS DriverEntry(PDRIVER_OBJECT drv, PUNICODE_STRING regPath);

}  // namespace testdrv
