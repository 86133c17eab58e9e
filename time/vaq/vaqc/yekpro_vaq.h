// The device-access protocol vaq: the identity request and the board's answer.
// Every board protocol extends it and hands it the types it does not define.
//
// Message types of the system: 0 to 2 belong to the message core; a protocol
// that stands alone numbers its messages from 4; a protocol that extends vaq
// numbers its own from 7 and leaves 4 and 6 to vaq.
#pragma once

#include <cstddef>
#include <cstdint>
#ifndef KV_KERNEL
#include <iosfwd>
#endif

#include "vaqcexport.h"
#include "yek.h"

namespace KVdepVaq100 {

using KVdepYek100::YekControl;
typedef uint32_t u_int;

const int eVaqResp = 4;
const int eVaqInit = 6;

// The answer to a request: error class (0 is success), error detail or
// returned value, and the board's status word.
class VAQC_API VaqResp : public YekControl {
public:
    // A size of 0 stands for the class's own size.
    explicit VaqResp(int e = eVaqResp, size_t s = 0) : YekControl(e, s ? s : sizeof(VaqResp)), _eErr(0), _iErr(0), _fStat(0) {}

    u_int eErr() const { return _eErr; }
    u_int iErr() const { return _iErr; }
    u_int fStat() const { return _fStat; }
    VaqResp& eErr(u_int u) { _eErr = u; return *this; }
    VaqResp& iErr(u_int u) { _iErr = u; return *this; }
    VaqResp& fStat(u_int u) { _fStat = u; return *this; }

    u_int _eErr;
    u_int _iErr;
    u_int _fStat;
};

// The request for the board's identity; it has no fields.
class VAQC_API VaqInit : public YekControl {
public:
    explicit VaqInit(int e = eVaqInit, size_t s = 0) : YekControl(e, s ? s : sizeof(VaqInit)) {}
};

// The messages are compared byte by byte: no padding may hide in them.
static_assert(sizeof(VaqResp) == 20, "VaqResp is 20 bytes");
static_assert(sizeof(VaqInit) == 8, "VaqInit is 8 bytes");
static_assert(sizeof(VaqResp) <= KVdepYek100::YekControlBuf::cbRoom, "a vaq message fits a receive area");

// The control as that class when its type fits, else null.
VAQC_API VaqResp* pVaqResp(YekControl* puc);
VAQC_API const VaqResp* pVaqResp(const YekControl* puc);
VAQC_API VaqInit* pVaqInit(YekControl* puc);
VAQC_API const VaqInit* pVaqInit(const YekControl* puc);

#ifndef KV_KERNEL
// The header form, then " eErr=", " iErr=", " fStat=" with decimal values.
VAQC_API std::ostream& operator<<(std::ostream& os, const VaqResp& r);
VAQC_API std::ostream& operator<<(std::ostream& os, const VaqInit& r);
#endif

// Wire forms: VaqResp is the type byte and three Int4; VaqInit the type byte.
// Reading starts behind the type byte, which the caller has read.
VAQC_API xostream& xmarshal(xostream& xo, const VaqResp& r);
VAQC_API xistream& xunmarsh(xistream& xi, VaqResp& r);
VAQC_API xostream& xmarshal(xostream& xo, const VaqInit& r);
VAQC_API xistream& xunmarsh(xistream& xi, VaqInit& r);

class VAQC_API Vaq_vaq_Proto : public KVdepYek100::YekProto {
public:
    Vaq_vaq_Proto();

    // Types 4 and 6 only; every other type fails the stream.
    xistream& unmarsh(xistream& xi, const YekControl& hdr, YekControl* out) const override;
    // Types 4 and 6; every other type goes to the core.
    xostream& marshal(xostream& xo, const YekControl* puc) const override;

    // The same operations without an object, for the protocols that extend
    // vaq and hand it the types they do not define.
    static xistream& unmarshVaq(xistream& xi, const YekControl& hdr, YekControl* out);
    static xostream& marshalVaq(xostream& xo, const YekControl* puc);
};

}  // namespace KVdepVaq100
