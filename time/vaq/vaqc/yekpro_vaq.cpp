// The vaq messages, their print and wire forms, and the protocol object.
#include "yekpro_vaq.h"

#include <new>
#ifndef KV_KERNEL
#include <ostream>
#endif

namespace KVdepVaq100 {

static const char szSrc[] = "yekpro_vaq";

static const char szSignature[] = "(//)(//)(/Int4:u_int,Int4:u_int,Int4:u_int/)";
static_assert(sizeof(szSignature) == 44 + 1, "the vaq signature has 44 characters");

VaqResp* pVaqResp(YekControl* puc)
{
    return puc && puc->eType() == eVaqResp ? static_cast<VaqResp*>(puc) : nullptr;
}

const VaqResp* pVaqResp(const YekControl* puc)
{
    return pVaqResp(const_cast<YekControl*>(puc));
}

VaqInit* pVaqInit(YekControl* puc)
{
    return puc && puc->eType() == eVaqInit ? static_cast<VaqInit*>(puc) : nullptr;
}

const VaqInit* pVaqInit(const YekControl* puc)
{
    return pVaqInit(const_cast<YekControl*>(puc));
}

#ifndef KV_KERNEL
std::ostream& operator<<(std::ostream& os, const VaqResp& r)
{
    return os << static_cast<const YekControl&>(r) << ' ' << std::dec << "eErr=" << r._eErr << ' ' << std::dec
              << "iErr=" << r._iErr << ' ' << std::dec << "fStat=" << r._fStat;
}

std::ostream& operator<<(std::ostream& os, const VaqInit& r)
{
    return os << static_cast<const YekControl&>(r);
}
#endif

xostream& xmarshal(xostream& xo, const VaqResp& r)
{
    KVdepYek100::xmarshal(xo, static_cast<const YekControl&>(r));
    return xo.putInt4(r._eErr).putInt4(r._iErr).putInt4(r._fStat);
}

xistream& xunmarsh(xistream& xi, VaqResp& r)
{
    return xi.getInt4(r._eErr).getInt4(r._iErr).getInt4(r._fStat);
}

xostream& xmarshal(xostream& xo, const VaqInit& r)
{
    return KVdepYek100::xmarshal(xo, static_cast<const YekControl&>(r));
}

xistream& xunmarsh(xistream& xi, VaqInit&)
{
    return xi;
}

Vaq_vaq_Proto::Vaq_vaq_Proto() : YekProto(szSignature, "vaq") {}

xistream& Vaq_vaq_Proto::unmarshVaq(xistream& xi, const YekControl& hdr, YekControl* out)
{
    // hdr may be *out: read the type before anything is built there.
    int eType = hdr.eType();
    switch (eType) {
    case eVaqInit:
        return xunmarsh(xi, *new (out) VaqInit(eVaqInit, sizeof(VaqInit)));
    case eVaqResp:
        return xunmarsh(xi, *new (out) VaqResp(eVaqResp, sizeof(VaqResp)));
    default:
        xi.setFailed(szSrc, 123);
        return xi;
    }
}

xostream& Vaq_vaq_Proto::marshalVaq(xostream& xo, const YekControl* puc)
{
    switch (puc->eType()) {
    case eVaqResp:
        return xmarshal(xo, *static_cast<const VaqResp*>(puc));
    case eVaqInit:
        return xmarshal(xo, *static_cast<const VaqInit*>(puc));
    default:
        return YekProto::marshalCore(xo, puc);
    }
}

xistream& Vaq_vaq_Proto::unmarsh(xistream& xi, const YekControl& hdr, YekControl* out) const
{
    return unmarshVaq(xi, hdr, out);
}

xostream& Vaq_vaq_Proto::marshal(xostream& xo, const YekControl* puc) const
{
    return marshalVaq(xo, puc);
}

}  // namespace KVdepVaq100
