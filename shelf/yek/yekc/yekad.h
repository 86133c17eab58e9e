// Card module and adapter descriptors: the plain tables through which a host
// (the kernel driver) learns what a card module serves, without seeing the
// message core's classes. The tables are constant-initialised data; nothing
// here runs before a host calls it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "yekcexport.h"

namespace KVdepYek100 {
class YekProto;
}
struct YekEnvC;
struct YekMod;

// A memory block a board asks its host for: size, and the address the host fills in.
struct YekMemInfo {
    size_t _s;
    void* _p;
};

// One protocol driver of a module: its channel count (channels 0 to _cChan-1)
// and its protocol, whose short name is the driver's name. _pup stays null
// until the module's construct hook has run.
struct YekDriverDesc {
    uint32_t _cChan;
    const KVdepYek100::YekProto* _pup;
};

// Storage a host provides for one walk over a chain; the entry points keep a
// chain iterator in it, so it is aligned for the pointer inside.
struct alignas(alignof(void*)) YekIter {
    char _mpch[64];
};

// Board factory: module, host callbacks, memory blocks and their count, the
// adapter's argument and the board's I/O base; returns the new board.
typedef void* (*YekPFnewCard)(YekMod* pum, const YekEnvC* pueC, YekMemInfo* pmi, int cmi, void* pArg, long ioBase);
// Fills the memory blocks such a board needs; returns their count.
typedef int (*YekPFgetMem)(YekMod* pum, YekMemInfo* pmi, int cmi);
// The extended factory (never called by the hosts of this system).
typedef void* (*YekPFnewCardEx)(YekMod* pum, YekMemInfo* pmi, long ioBase, void* pArg, int cmi, const YekEnvC* pueC);
// Builds the module's static objects for a host that runs no static constructors.
typedef void (*YekPFct)();

// The header every adapter descriptor begins with.
struct YekAdapt {
    int _eClass;  // 'u' USB, 'p' PCI, 'i' ISA, 'P' PC card
    const char* _szAdaptName;
    const char* _szOrg;
    const char* _szArch;
    const char* _szLic;
};

const int eAdaptUsb = 'u';
const int eAdaptPci = 'p';
const int eAdaptIsa = 'i';
const int eAdaptPcm = 'P';

// A register region of a board: flags, length in bytes, base address register.
struct RegionDesc {
    uint32_t _f;
    uint32_t _l;
    int _iBar;
};

struct YekPciId {
    uint32_t _vid;
    uint32_t _did;
};

// Firmware images are arrays of ezusb_hex_record; _mppfw[i] is the operating
// image of driver i, null when that driver cannot be opened.
struct YekAdaptUsb {
    YekAdapt _ad;
    uint32_t _uVid;
    uint32_t _uPid;
    const char* _szMcuType;
    const void* _pfwIdle;
    const void* _pfwDiscon;
    const void* _mppfw[4];
};

struct YekAdaptPci {
    YekAdapt _ad;
    void* _pArg;
    YekPciId _id;
    YekPciId _idSS;
    RegionDesc _mprd[2];
};

struct YekAdaptIsa {
    YekAdapt _ad;
    void* _pArg;
    const int* _piSig;
    RegionDesc _rd;
};

struct YekAdaptPcm {
    YekAdapt _ad;
    void* _pArg;
    RegionDesc _rd;
};

// A card module. _mppad points at a null-terminated list of adapter headers;
// a host casts a header back to its adapter class by the class letter.
struct YekMod {
    int _cChan;
    int _tps;  // timer ticks per second the module wants from its host
    YekPFnewCard _pFnew_YekCard;
    YekPFgetMem _pFgetMem_YekCard;
    uint32_t _cDriver;
    YekDriverDesc* _puDd;
    size_t _sAlloc;
    YekPFnewCardEx _pFnewYekCardEx;
    YekPFct _pFct;
    const YekAdapt* const* _mppad;
};

// The descriptors are read in place by hosts: each adapter class begins with
// its header so that the lists can hold header pointers.
static_assert(offsetof(YekAdaptUsb, _ad) == 0 && offsetof(YekAdaptPci, _ad) == 0, "adapters begin with the header");
static_assert(offsetof(YekAdaptIsa, _ad) == 0 && offsetof(YekAdaptPcm, _ad) == 0, "adapters begin with the header");
static_assert(sizeof(YekIter) == 64, "an iteration block is 64 bytes");

extern "C" {

// The region of pad whose length is len: a PCI adapter's first such region of
// its two, the single region of an ISA or PC-card adapter; null otherwise
// (a USB adapter has no regions).
YEKC_API const RegionDesc* getRegionBySize(const YekAdapt* pad, unsigned len);

}  // extern "C"

namespace KVdepYek100 {

// A memory request that asks for nothing: returns 0 and writes nothing.
YEKC_API int YekMod_getMem(YekMod* pum, YekMemInfo* pmi, int cmi);

}  // namespace KVdepYek100
