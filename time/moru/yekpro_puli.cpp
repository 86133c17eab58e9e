// The puli messages: views, print and wire forms, and the protocol class.
#include "yekpro_puli.h"

#include <new>
#include <ostream>

namespace KVdepPuli100 {

static const char szSrc[] = "yekpro_puli";

static const char szSignature[] =
    "(/Int4:unsigned,Int4:unsigned/)(//(/Int4:u_int,Int4:u_int/))(//)(//(/Int4:u_int,Int4:u_int/))(//)"
    "(/Int4:unsigned/)(//)";
static_assert(sizeof(szSignature) == 118 + 1, "the puli signature has 118 characters");

namespace {

template <class T>
T* viewOf(YekControl* puc, int eType)
{
    return puc && puc->eType() == eType ? static_cast<T*>(puc) : nullptr;
}

std::ostream& field(std::ostream& os, const char* szLabel, u32 u)
{
    return os << ' ' << std::dec << szLabel << u;
}

xostream& header(xostream& xo, const YekControl& m) { return KVdepYek100::xmarshal(xo, m); }

}  // namespace

PuliPulseConfig* pPuliPulseConfig(YekControl* puc) { return viewOf<PuliPulseConfig>(puc, ePuliPulseConfig); }
PuliSetTimer* pPuliSetTimer(YekControl* puc) { return viewOf<PuliSetTimer>(puc, ePuliSetTimer); }
PuliInit* pPuliInit(YekControl* puc) { return viewOf<PuliInit>(puc, ePuliInit); }
PuliConfig* pPuliConfig(YekControl* puc) { return viewOf<PuliConfig>(puc, ePuliConfig); }
PuliSample* pPuliSample(YekControl* puc) { return viewOf<PuliSample>(puc, ePuliSample); }
PuliStop* pPuliStop(YekControl* puc) { return viewOf<PuliStop>(puc, ePuliStop); }
PuliResp* pPuliResp(YekControl* puc) { return viewOf<PuliResp>(puc, ePuliResp); }

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

xostream& xmarshal(xostream& xo, const PuliPulseConfig& m) { return header(xo, m); }
xostream& xmarshal(xostream& xo, const PuliSetTimer& m) { return KVdepYek100::xmarshal(header(xo, m), m._ti); }
xostream& xmarshal(xostream& xo, const PuliInit& m) { return header(xo, m); }
xostream& xmarshal(xostream& xo, const PuliConfig& m) { return header(xo, m).putInt4(m._cScale); }
xostream& xmarshal(xostream& xo, const PuliSample& m) { return KVdepYek100::xmarshal(header(xo, m), m._tiTmo); }
xostream& xmarshal(xostream& xo, const PuliStop& m) { return header(xo, m); }
xostream& xmarshal(xostream& xo, const PuliResp& m) { return header(xo, m).putInt4(m._eErr).putInt4(m._iErr); }

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
        return xunmarsh(xi, *new (out) PuliPulseConfig(eType, 0));
    case ePuliSetTimer:
        return xunmarsh(xi, *new (out) PuliSetTimer(eType, 0));
    case ePuliInit:
        return xunmarsh(xi, *new (out) PuliInit(eType, 0));
    case ePuliConfig:
        return xunmarsh(xi, *new (out) PuliConfig(eType, 0));
    case ePuliSample:
        return xunmarsh(xi, *new (out) PuliSample(eType, 0));
    case ePuliStop:
        return xunmarsh(xi, *new (out) PuliStop(eType, 0));
    case ePuliResp:
        return xunmarsh(xi, *new (out) PuliResp(eType, 0));
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
