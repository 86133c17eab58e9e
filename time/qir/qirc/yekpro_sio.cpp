// The sio messages, their views, print and wire forms, and the protocol object.
#include "yekpro_sio.h"

#ifndef KV_KERNEL
#include <ostream>
#endif

#include "yekpro_kit.h"
#include "yekpro_vaq.h"

namespace KVdepSio100 {

#ifndef KV_KERNEL
using KVdepYek100::ProtoKit::field;
#endif
using KVdepYek100::ProtoKit::readAt;
using KVdepYek100::ProtoKit::typeByte;
using KVdepYek100::ProtoKit::viewOf;

using KVdepVaq100::Vaq_vaq_Proto;

// The vaq signature, then the groups of SioSync, SioRead, SioWrite and SioResp.
static const char szSignature[] =
    "(//)(//)(/Int4:u_int,Int4:u_int,Int4:u_int/)"
    "(/Int1:u_int/)"
    "(/Int1:u_int/)"
    "((/Int1:u_int/)/Int2:u_int/)"
    "(/Int4:u_int,Int4:u_int/)";
static_assert(sizeof(szSignature) == 125 + 1, "the sio signature has 125 characters");

SioSync* pSioSync(YekControl* puc) { return viewOf<SioSync>(puc, eSioSync, eSioSync); }
SioRead* pSioRead(YekControl* puc) { return viewOf<SioRead>(puc, eSioRead, eSioWrite); }
SioWrite* pSioWrite(YekControl* puc) { return viewOf<SioWrite>(puc, eSioWrite, eSioWrite); }
SioResp* pSioResp(YekControl* puc) { return viewOf<SioResp>(puc, eSioResp, eSioResp); }
const SioSync* pSioSync(const YekControl* puc) { return pSioSync(const_cast<YekControl*>(puc)); }
const SioRead* pSioRead(const YekControl* puc) { return pSioRead(const_cast<YekControl*>(puc)); }
const SioWrite* pSioWrite(const YekControl* puc) { return pSioWrite(const_cast<YekControl*>(puc)); }
const SioResp* pSioResp(const YekControl* puc) { return pSioResp(const_cast<YekControl*>(puc)); }

#ifndef KV_KERNEL
std::ostream& operator<<(std::ostream& os, const SioSync& m)
{
    return field(os << static_cast<const YekControl&>(m), "fCtrl=", m._fCtrl);
}

std::ostream& operator<<(std::ostream& os, const SioRead& m)
{
    return field(os << static_cast<const YekControl&>(m), "iPort=", m._iPort);
}

std::ostream& operator<<(std::ostream& os, const SioWrite& m)
{
    return field(os << static_cast<const SioRead&>(m), "iVal=", m._iVal);
}

std::ostream& operator<<(std::ostream& os, const SioResp& m)
{
    return field(field(os << static_cast<const YekControl&>(m), "eErr=", m._eErr), "fStat=", m._fStat);
}
#endif

xostream& xmarshal(xostream& xo, const SioSync& m)
{
    return typeByte(xo, m).putInt1(m._fCtrl);
}

xostream& xmarshal(xostream& xo, const SioRead& m)
{
    return typeByte(xo, m).putInt1(m._iPort);
}

xostream& xmarshal(xostream& xo, const SioWrite& m)
{
    return typeByte(xo, m).putInt1(m._iPort).putInt2(m._iVal);
}

xostream& xmarshal(xostream& xo, const SioResp& m)
{
    return typeByte(xo, m).putInt4(m._eErr).putInt4(m._fStat);
}

xistream& xunmarsh(xistream& xi, SioSync& m)
{
    return xi.getInt1(m._fCtrl);
}

xistream& xunmarsh(xistream& xi, SioRead& m)
{
    return xi.getInt1(m._iPort);
}

xistream& xunmarsh(xistream& xi, SioWrite& m)
{
    return xi.getInt1(m._iPort).getInt2(m._iVal);
}

xistream& xunmarsh(xistream& xi, SioResp& m)
{
    return xi.getInt4(m._eErr).getInt4(m._fStat);
}

Sio_sio_Proto::Sio_sio_Proto() : YekProto(szSignature, "sio") {}

xistream& Sio_sio_Proto::unmarsh(xistream& xi, const YekControl& hdr, YekControl* out) const
{
    // hdr may be *out: read the type before anything is built there.
    int eType = hdr.eType();
    switch (eType) {
    case eSioSync: return readAt<SioSync>(xi, eType, out);
    case eSioRead: return readAt<SioRead>(xi, eType, out);
    case eSioWrite: return readAt<SioWrite>(xi, eType, out);
    case eSioResp: return readAt<SioResp>(xi, eType, out);
    default: return Vaq_vaq_Proto::unmarshVaq(xi, hdr, out);
    }
}

xostream& Sio_sio_Proto::marshal(xostream& xo, const YekControl* puc) const
{
    switch (puc->eType()) {
    case eSioSync: return xmarshal(xo, *static_cast<const SioSync*>(puc));
    case eSioRead: return xmarshal(xo, *static_cast<const SioRead*>(puc));
    case eSioWrite: return xmarshal(xo, *static_cast<const SioWrite*>(puc));
    case eSioResp: return xmarshal(xo, *static_cast<const SioResp*>(puc));
    default: return Vaq_vaq_Proto::marshalVaq(xo, puc);
    }
}

}  // namespace KVdepSio100
