// Big-endian wire integers of 1, 2 or 4 bytes, with no filler, length prefix
// or checksum. A read past the end of the data fails the stream; a failed
// stream does nothing more.
#pragma once

#include "failable.h"

// The byte stream under the wire streams. The streams use only sbumpc, sgetc
// and sputc: the standard stream buffer in user mode, the driver's byte
// window in a kernel build (KV_KERNEL).
#ifdef KV_KERNEL
#include "wirebuf.h"
#else
#include <streambuf>
typedef std::streambuf Wirebuf;
#endif

class FEXROL_API xistream : public Failable {
public:
    explicit xistream(Wirebuf* pwb) : _pwb(pwb) {}

    xistream& getInt(unsigned& iRet, int iLen);
    xistream& getInt(int& iRet, int iLen);
    xistream& getInt1(unsigned& i) { return getInt(i, 1); }
    xistream& getInt2(unsigned& i) { return getInt(i, 2); }
    xistream& getInt4(unsigned& i) { return getInt(i, 4); }

    // 1 while the status is good and a byte is left; consumes nothing.
    int isInAvail();

private:
    Wirebuf* psb() { return _pwb; }
    bool getRaw(unsigned& iAcc, int iLen);

    Wirebuf* _pwb;
};

class FEXROL_API xostream : public Failable {
public:
    explicit xostream(Wirebuf* pwb) : _pwb(pwb) {}

    xostream& putInt(unsigned iP, int iLen);
    xostream& putInt1(unsigned i) { return putInt(i, 1); }
    xostream& putInt2(unsigned i) { return putInt(i, 2); }
    xostream& putInt4(unsigned i) { return putInt(i, 4); }

private:
    Wirebuf* psb() { return _pwb; }

    Wirebuf* _pwb;
};
