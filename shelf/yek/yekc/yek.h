// The message model: the time value, the control header of every message and
// its storage, the cursor over a message's data, and the protocol descriptor.
// The same code is built into the kernel driver, so it makes no platform call.
#pragma once

#include <cstddef>
#include <cstdint>
#ifndef KV_KERNEL
#include <iosfwd>
#include <streambuf>
#include <string>
#endif

#include "wire.h"
#include "yekcexport.h"

// Plain structures of the flat binding. They cross the device interface in
// exactly this layout.

// A byte area: end of the area, end of the valid data, start of the area.
struct YekMemStruct {
    char* _pchLimBuf;
    char* _pchLimDat;
    char* _pchBase;
};

// The control header: byte size of the whole control structure, then its type.
struct YekControlStruct {
    uint32_t _size;
    uint32_t _eType;
};

struct YekTimespec {
    uint32_t tv_sec;
    uint32_t tv_nsec;
};

static_assert(sizeof(YekMemStruct) == 3 * sizeof(char*), "YekMemStruct is three pointers");
static_assert(sizeof(YekControlStruct) == 8, "the control header is 8 bytes");
static_assert(sizeof(YekTimespec) == 8, "a time is 8 bytes");

namespace KVdepYek100 {

// Seconds and nanoseconds. Nothing normalises a time except the carry of a sum.
class YEKC_API Time : public YekTimespec {
public:
    Time() : YekTimespec{0, 0} {}
    Time(const YekTimespec& ts) : YekTimespec(ts) {}
    Time(unsigned sec, unsigned nsec) : YekTimespec{sec, nsec} {}
};
typedef Time YekTime;

YEKC_API Time operator+(const Time& a, const Time& b);
YEKC_API bool operator>=(const Time& a, const Time& b);
YEKC_API bool operator==(const Time& a, const Time& b);
#ifndef KV_KERNEL
// Decimal "sec:nsec"; leaves the stream in decimal.
YEKC_API std::ostream& operator<<(std::ostream& os, const Time& ti);
#endif
YEKC_API xostream& xmarshal(xostream& xo, const Time& ti);
YEKC_API xistream& xunmarsh(xistream& xi, Time& ti);

// The header every control structure begins with. Control structures are
// always constructed in place in the storage that holds them.
class YEKC_API YekControl : public YekControlStruct {
public:
    YekControl(int eType, size_t s) : YekControlStruct{static_cast<uint32_t>(s), static_cast<uint32_t>(eType)} {}

    size_t size() const { return _size; }
    int eType() const { return static_cast<int>(_eType); }
    // The structure as a memory record: base at the header, _size bytes of data.
    YekMemStruct yk() const;
};

// False when the sizes differ, else a byte comparison of _size bytes.
YEKC_API bool operator==(const YekControl& a, const YekControl& b);
#ifndef KV_KERNEL
// "size=" and the decimal size, " type=0x" and the hex type. The stream is
// left in hexadecimal on purpose: the protocols' print forms rely on it.
YEKC_API std::ostream& operator<<(std::ostream& os, const YekControl& uc);
#endif
// The wire form of a header is the type byte alone; the size is never sent.
YEKC_API xostream& xmarshal(xostream& xo, const YekControl& uc);
YEKC_API xistream& xunmarsh(xistream& xi, YekControl& uc);

// Storage for any control structure of up to 136 bytes: the header and 128
// bytes of room. A control received from outside may use 128 bytes counted
// from the header (ykBuf).
class YEKC_API YekControlBuf : public YekControl {
public:
    static const size_t cbRoom = 128;

    YekControlBuf();
    YekControlBuf(const YekControlBuf&) = default;

    // Copies the first uc._size bytes of uc; the bytes behind them keep their
    // contents. Buffer-to-buffer assignment goes the same way.
    YekControlBuf& operator=(const YekControl& uc);
    YekControlBuf& operator=(const YekControlBuf& ucb) { return operator=(static_cast<const YekControl&>(ucb)); }

    YekMemStruct ykBuf() const;

    char _mpch[cbRoom];
};

static_assert(sizeof(YekControl) == 8, "the control header adds no fields");
static_assert(sizeof(YekControlBuf) == 136, "a control buffer is the header and 128 bytes");

// Size of the data area of every message buffer. Assertion texts spell it
// __SZ_DATA_MAX, the name it had when those texts were fixed.
const size_t SZ_DATA_MAX = 512;

// A cursor over a byte area it does not own. Only the limit setters check
// bounds: they keep the data limit inside the area.
class YEKC_API YekBuf {
public:
    YekBuf(char* pchBase, size_t s) : _pchBase(pchBase), _pchLimBuf(pchBase + s), _pchLimDat(pchBase), _pch(pchBase) {}

    int sgetc() const { return _pch < _pchLimDat ? static_cast<unsigned char>(*_pch) : -1; }
    // Callers test with sgetc first.
    int sbumpc_checked() { return static_cast<unsigned char>(*_pch++); }
    // Callers test with canput first.
    void sputc(int c) { *_pch++ = static_cast<char>(c); }
    bool canput() const { return _pch < _pchLimDat; }
    static int zapeof(const char* p) { return static_cast<unsigned char>(*p); }

    // Rewind to the base; room for writing s bytes (at most the area).
    void setLimit(size_t s);
    // Rewind to the base; c bytes to read (at most the area).
    void setCount(size_t c) { setLimit(c); }
    // Rewind to the base; as many bytes to read as m holds (at most the area).
    void setSize(const YekMemStruct& m);

    size_t cDone() const { return static_cast<size_t>(_pch - _pchBase); }
    size_t cMax() const { return static_cast<size_t>(_pchLimBuf - _pchBase); }
    size_t cGet() const { return static_cast<size_t>(_pchLimDat - _pch); }
    char* pchBase() const { return const_cast<char*>(_pchBase); }

    const char* _pchBase;
    const char* _pchLimBuf;
    char* _pchLimDat;
    char* _pch;
};

// The data length of a memory record; a limit below the base counts as 0.
YEKC_API size_t cDataOf(const YekMemStruct& m);

#ifndef KV_KERNEL
// Reads the cursor into psb up to its data limit.
YEKC_API size_t getbuf(std::streambuf* psb, YekBuf* pug);
#endif
// Reads at most min(sMax, 512) bytes into pchBase.
YEKC_API size_t getbuf(char* pchBase, size_t sMax, YekBuf* pug);
#ifndef KV_KERNEL
// Writes at most the first 512 characters; the cursor must have room for them.
YEKC_API size_t putbuf(YekBuf* pup, const std::string& sg);
#endif
YEKC_API size_t putbuf(YekBuf* pup, const char* pchBase, size_t s);

// A protocol: its signature and short name (static texts, not owned) and the
// marshalling of its controls. The base handles the core types 0 to 2.
class YEKC_API YekProto {
public:
    YekProto(const char* szProto, const char* szName) : _szProto(szProto), _szName(szName) {}

    // Constructs the control of hdr's type at out and reads its fields; hdr
    // and out may be the same object.
    virtual xistream& unmarsh(xistream& xi, const YekControl& hdr, YekControl* out) const;
    // Writes the type byte and the control's fields.
    virtual xostream& marshal(xostream& xo, const YekControl* puc) const;
    virtual ~YekProto();

    const char* szProto() const { return _szProto; }
    const char* szName() const { return _szName; }

    // True when the client signature is a prefix of the server signature.
    static bool match(const char* szServer, const char* szClient);

    // The base behaviour, for protocols that stand alone.
    static xistream& unmarshCore(xistream& xi, const YekControl& hdr, YekControl* out);
    static xostream& marshalCore(xostream& xo, const YekControl* puc);

    const char* _szProto;
    const char* _szName;
};
typedef YekProto Proto;

// Not symmetric: true when b's signature is a prefix of a's (a is the server).
YEKC_API bool operator==(const YekProto& a, const YekProto& b);

}  // namespace KVdepYek100
