// User buffers in the driver: the mapping of one caller buffer for the time
// of one request, and the two routines that turn a control into its wire
// bytes and back on the kernel's byte window (Wirebuf, wire.h).
#pragma once

#include <wdm.h>

#include "failable.h"
#include "yek.h"

// One mapped user buffer. Its status is good until a step fails; the failing
// step's source name ("wmmdl") and line are the status text and number.
class WmMdl : public Failable {
public:
    WmMdl() : _pmdl(nullptr), _pch(nullptr), _cb(0), _fLocked(0) {}
    ~WmMdl() { unmap(); }
    WmMdl(const WmMdl&) = delete;
    WmMdl& operator=(const WmMdl&) = delete;

    // Describes, locks and maps len bytes at pv. A null address or a length
    // of 0 maps nothing and leaves the status as it is.
    WmMdl& map(PVOID pv, ULONG len, KPROCESSOR_MODE mode, LOCK_OPERATION op);
    // Maps the buffer of a record (a copy the caller has validated nothing
    // of): an absent record maps nothing; a limit below the base or a buffer
    // of 0x10000 bytes or more fails without touching anything.
    WmMdl& mapRecord(const YekMemStruct* pum, KPROCESSOR_MODE mode, LOCK_OPERATION op);
    // Undoes the mapping; the status stays.
    void unmap();
    // Good status again: the start of a new request.
    void reset() { setStat(E_OK, nullptr, 0); }

    // Copies c bytes into the mapped buffer and sets the record's data limit.
    WmMdl& copyIn(const void* pv, size_t c, YekMemStruct* pum);
    // Copies all mapped bytes to pv when they fit its capacity.
    WmMdl& copyOut(void* pv, size_t cbCap, size_t* pcCopied);
    // Fails unless at least cbMin bytes are mapped.
    WmMdl& require(size_t cbMin);
    // Copies the control of a control-down buffer once into pucb: fails when
    // the buffer is missing, shorter than a header or than the control's own
    // size, or the control is larger than pucb.
    WmMdl& copyControl(KVdepYek100::YekControlBuf* pucb);

    ULONG cb() const { return _cb; }
    PMDL mdl() const { return _pmdl; }
    char* pch() const { return _pch; }

    PMDL _pmdl;
    char* _pch;
    ULONG _cb;
    UCHAR _fLocked;
};

// Writes the control's wire form (type byte and fields) with the protocol
// into cbRoom bytes at pchWire and returns the bytes written, never more than
// cbRoom. *pfOk (when given) tells whether the protocol could write it.
size_t marshalControl(const KVdepYek100::YekProto* pup, char* pchWire, size_t cbRoom,
                      const KVdepYek100::YekControl* puc, bool* pfOk = nullptr);
// Builds the control of the wire bytes in place at puc (room for a control
// buffer) and returns its size, or 0 when the bytes do not read as a control
// of the protocol.
size_t unmarshalControl(const KVdepYek100::YekProto* pup, KVdepYek100::YekControl* puc,
                        const char* pchWire, size_t cb);
