// The board protocol sio of the second card module's boards (the digital-I/O
// board among them): port reads and writes, a synchronisation request and one
// answer. It extends vaq: its own messages are types 7 to 10 and every other
// type goes to vaq. A type means something only with its channel's protocol:
// 7 is SioSync here and QirRead on a qir channel.
//
// In memory every field is a 32-bit word; on the wire the flags and the port
// are one byte and a value two.
#pragma once

#include <cstddef>
#include <cstdint>
#ifndef KV_KERNEL
#include <iosfwd>
#endif

#include "qircexport.h"
#include "yek.h"

namespace KVdepSio100 {

using KVdepYek100::YekControl;
typedef uint32_t u_int;

const int eSioSync = 7;
const int eSioRead = 8;
const int eSioWrite = 9;
const int eSioResp = 10;

// Every constructor takes the type and the size; a size of 0 stands for the
// class's own size. Fields start at 0.

// A synchronisation with control flags.
class QIRC_API SioSync : public YekControl {
public:
    explicit SioSync(int e = eSioSync, size_t s = 0) : YekControl(e, s ? s : sizeof(SioSync)), _fCtrl(0) {}

    u_int fCtrl() const { return _fCtrl; }
    SioSync& fCtrl(u_int u) { _fCtrl = u; return *this; }

    u_int _fCtrl;
};

// Read of port _iPort.
class QIRC_API SioRead : public YekControl {
public:
    explicit SioRead(int e = eSioRead, size_t s = 0) : YekControl(e, s ? s : sizeof(SioRead)), _iPort(0) {}

    u_int iPort() const { return _iPort; }
    SioRead& iPort(u_int u) { _iPort = u; return *this; }

    u_int _iPort;
};

// Write of _iVal to port _iPort.
class QIRC_API SioWrite : public SioRead {
public:
    explicit SioWrite(int e = eSioWrite, size_t s = 0) : SioRead(e, s ? s : sizeof(SioWrite)), _iVal(0) {}

    u_int iVal() const { return _iVal; }
    SioWrite& iVal(u_int u) { _iVal = u; return *this; }

    u_int _iVal;
};

// The answer: error class (0 is success) and the status word, which carries
// the value read for a SioRead.
class QIRC_API SioResp : public YekControl {
public:
    explicit SioResp(int e = eSioResp, size_t s = 0) : YekControl(e, s ? s : sizeof(SioResp)), _eErr(0), _fStat(0) {}

    u_int eErr() const { return _eErr; }
    u_int fStat() const { return _fStat; }
    SioResp& eErr(u_int u) { _eErr = u; return *this; }
    SioResp& fStat(u_int u) { _fStat = u; return *this; }

    u_int _eErr;
    u_int _fStat;
};

static_assert(sizeof(SioSync) == 12 && sizeof(SioRead) == 12, "sio requests");
static_assert(sizeof(SioWrite) == 16 && sizeof(SioResp) == 16, "sio write and answer");

// The control as that class when its type fits, else null; pSioRead also
// accepts a SioWrite.
QIRC_API SioSync* pSioSync(YekControl* puc);    // 7
QIRC_API SioRead* pSioRead(YekControl* puc);    // 8, 9
QIRC_API SioWrite* pSioWrite(YekControl* puc);  // 9
QIRC_API SioResp* pSioResp(YekControl* puc);    // 10
QIRC_API const SioSync* pSioSync(const YekControl* puc);
QIRC_API const SioRead* pSioRead(const YekControl* puc);
QIRC_API const SioWrite* pSioWrite(const YekControl* puc);
QIRC_API const SioResp* pSioResp(const YekControl* puc);

#ifndef KV_KERNEL
// Print forms: the header form, then each field, base fields first, as a
// blank, the decimal value's label and the value.
QIRC_API std::ostream& operator<<(std::ostream& os, const SioSync& m);
QIRC_API std::ostream& operator<<(std::ostream& os, const SioRead& m);
QIRC_API std::ostream& operator<<(std::ostream& os, const SioWrite& m);
QIRC_API std::ostream& operator<<(std::ostream& os, const SioResp& m);
#endif

// Wire forms: xmarshal writes the type byte and the fields, xunmarsh reads
// the fields behind the type byte.
QIRC_API xostream& xmarshal(xostream& xo, const SioSync& m);
QIRC_API xostream& xmarshal(xostream& xo, const SioRead& m);
QIRC_API xostream& xmarshal(xostream& xo, const SioWrite& m);
QIRC_API xostream& xmarshal(xostream& xo, const SioResp& m);
QIRC_API xistream& xunmarsh(xistream& xi, SioSync& m);
QIRC_API xistream& xunmarsh(xistream& xi, SioRead& m);
QIRC_API xistream& xunmarsh(xistream& xi, SioWrite& m);
QIRC_API xistream& xunmarsh(xistream& xi, SioResp& m);

// The sio protocol object, name "sio"; like qir it derives from YekProto and
// reaches vaq's operations without a vaq object.
class QIRC_API Sio_sio_Proto : public KVdepYek100::YekProto {
public:
    Sio_sio_Proto();

    // Types 7 to 10; every other type as vaq reads it.
    xistream& unmarsh(xistream& xi, const YekControl& hdr, YekControl* out) const override;
    // Types 7 to 10; every other type as vaq writes it.
    xostream& marshal(xostream& xo, const YekControl* puc) const override;
};

}  // namespace KVdepSio100
