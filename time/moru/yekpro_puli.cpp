// The puli messages: views, print and wire forms, and the protocol class.
#include "yekpro_puli.h"

#include <ostream>

#include "yekpro_kit.h"

namespace KVdepPuli100 {

using KVdepYek100::ProtoKit::field;
using KVdepYek100::ProtoKit::readAt;
using KVdepYek100::ProtoKit::typeByte;
using KVdepYek100::ProtoKit::viewOf;

static const char szSrc[] = "yekpro_puli";

static const char szSignature[] =
    "(/Int4:unsigned,Int4:unsigned/)(//(/Int4:u_int,Int4:u_int/))(//)(//(/Int4:u_int,Int4:u_int/))(//)"
    "(/Int4:unsigned/)(//)";
static_assert(sizeof(szSignature) == 118 + 1, "the puli signature has 118 characters");

PuliPulseConfig* pPuliPulseConfig(YekControl* puc)
{
    return viewOf<PuliPulseConfig>(puc, ePuliPulseConfig, ePuliPulseConfig);
}
PuliSetTimer* pPuliSetTimer(YekControl* puc) { return viewOf<PuliSetTimer>(puc, ePuliSetTimer, ePuliSetTimer); }
PuliInit* pPuliInit(YekControl* puc) { return viewOf<PuliInit>(puc, ePuliInit, ePuliInit); }
PuliConfig* pPuliConfig(YekControl* puc) { return viewOf<PuliConfig>(puc, ePuliConfig, ePuliConfig); }
PuliSample* pPuliSample(YekControl* puc) { return viewOf<PuliSample>(puc, ePuliSample, ePuliSample); }
PuliStop* pPuliStop(YekControl* puc) { return viewOf<PuliStop>(puc, ePuliStop, ePuliStop); }
PuliResp* pPuliResp(YekControl* puc) { return viewOf<PuliResp>(puc, ePuliResp, ePuliResp); }

const PuliPulseConfig* pPuliPulseConfig(const YekControl* puc) { return pPuliPulseConfig(const_cast<YekControl*>(puc)); }
const PuliSetTimer* pPuliSetTimer(const YekControl* puc) { return pPuliSetTimer(const_cast<YekControl*>(puc)); }
const PuliInit* pPuliInit(const YekControl* puc) { return pPuliInit(const_cast<YekControl*>(puc)); }
const PuliConfig* pPuliConfig(const YekControl* puc) { return pPuliConfig(const_cast<YekControl*>(puc)); }
const PuliSample* pPuliSample(const YekControl* puc) { return pPuliSample(const_cast<YekControl*>(puc)); }
const PuliStop* pPuliStop(const YekControl* puc) { return pPuliStop(const_cast<YekControl*>(puc)); }
const PuliResp* pPuliResp(const YekControl* puc) { return pPuliResp(const_cast<YekControl*>(puc)); }

std::ostream& operator<<(std::ostream& os, const PuliPulseConfig& m) { return os << static_cast<const YekControl&>(m); }

std::ostream& operator<<(std::ostream& os, const PuliSetTimer& m)
{
    return os << static_cast<const YekControl&>(m) << ' ' << std::dec << "ti=" << m._ti;
}

std::ostream& operator<<(std::ostream& os, const PuliInit& m) { return os << static_cast<const YekControl&>(m); }

std::ostream& operator<<(std::ostream& os, const PuliConfig& m)
{
    return field(os << static_cast<const YekControl&>(m), "cScale=", m._cScale);
}

std::ostream& operator<<(std::ostream& os, const PuliSample& m)
{
    return os << static_cast<const YekControl&>(m) << ' ' << std::dec << "tiTmo=" << m._tiTmo;
}

std::ostream& operator<<(std::ostream& os, const PuliStop& m) { return os << static_cast<const YekControl&>(m); }

std::ostream& operator<<(std::ostream& os, const PuliResp& m)
{
    field(os << static_cast<const YekControl&>(m), "eErr=", m._eErr);
    return field(os, "iErr=", m._iErr);
}

xostream& xmarshal(xostream& xo, const PuliPulseConfig& m) { return typeByte(xo, m); }
xostream& xmarshal(xostream& xo, const PuliSetTimer& m) { return KVdepYek100::xmarshal(typeByte(xo, m), m._ti); }
xostream& xmarshal(xostream& xo, const PuliInit& m) { return typeByte(xo, m); }
xostream& xmarshal(xostream& xo, const PuliConfig& m) { return typeByte(xo, m).putInt4(m._cScale); }
xostream& xmarshal(xostream& xo, const PuliSample& m) { return KVdepYek100::xmarshal(typeByte(xo, m), m._tiTmo); }
xostream& xmarshal(xostream& xo, const PuliStop& m) { return typeByte(xo, m); }
xostream& xmarshal(xostream& xo, const PuliResp& m) { return typeByte(xo, m).putInt4(m._eErr).putInt4(m._iErr); }

xistream& xunmarsh(xistream& xi, PuliPulseConfig&) { return xi; }
xistream& xunmarsh(xistream& xi, PuliSetTimer& m) { return KVdepYek100::xunmarsh(xi, m._ti); }
xistream& xunmarsh(xistream& xi, PuliInit&) { return xi; }
xistream& xunmarsh(xistream& xi, PuliConfig& m) { return xi.getInt4(m._cScale); }
xistream& xunmarsh(xistream& xi, PuliSample& m) { return KVdepYek100::xunmarsh(xi, m._tiTmo); }
xistream& xunmarsh(xistream& xi, PuliStop&) { return xi; }
xistream& xunmarsh(xistream& xi, PuliResp& m) { return xi.getInt4(m._eErr).getInt4(m._iErr); }

Puli_puli_Proto::Puli_puli_Proto() : YekProto(szSignature, "puli") {}

xistream& Puli_puli_Proto::unmarsh(xistream& xi, const YekControl& hdr, YekControl* out) const
{
    // hdr may be *out: read the type before anything is built there.
    int eType = hdr.eType();
    switch (eType) {
    case ePuliPulseConfig:
        return readAt<PuliPulseConfig>(xi, eType, out);
    case ePuliSetTimer:
        return readAt<PuliSetTimer>(xi, eType, out);
    case ePuliInit:
        return readAt<PuliInit>(xi, eType, out);
    case ePuliConfig:
        return readAt<PuliConfig>(xi, eType, out);
    case ePuliSample:
        return readAt<PuliSample>(xi, eType, out);
    case ePuliStop:
        return readAt<PuliStop>(xi, eType, out);
    case ePuliResp:
        return readAt<PuliResp>(xi, eType, out);
    default:
        xi.setFailed(szSrc, 269);
        return xi;
    }
}

xostream& Puli_puli_Proto::marshal(xostream& xo, const YekControl* puc) const
{
    switch (puc->eType()) {
    case ePuliPulseConfig:
        return xmarshal(xo, *static_cast<const PuliPulseConfig*>(puc));
    case ePuliSetTimer:
        return xmarshal(xo, *static_cast<const PuliSetTimer*>(puc));
    case ePuliInit:
        return xmarshal(xo, *static_cast<const PuliInit*>(puc));
    case ePuliConfig:
        return xmarshal(xo, *static_cast<const PuliConfig*>(puc));
    case ePuliSample:
        return xmarshal(xo, *static_cast<const PuliSample*>(puc));
    case ePuliStop:
        return xmarshal(xo, *static_cast<const PuliStop*>(puc));
    case ePuliResp:
        return xmarshal(xo, *static_cast<const PuliResp*>(puc));
    default:
        return YekProto::marshal(xo, puc);
    }
}

}  // namespace KVdepPuli100
