// The moru messages: views, print and wire forms, and the protocol object.
#include "yekpro_moru.h"

#include <ostream>

#include "yekpro_kit.h"

namespace KVdepMoru100 {

using KVdepYek100::ProtoKit::field;
using KVdepYek100::ProtoKit::readAt;
using KVdepYek100::ProtoKit::typeByte;
using KVdepYek100::ProtoKit::viewOf;

static const char szSrc[] = "yekpro_moru";

static const char szSignature[] =
    "(/Int4:unsigned,Int4:unsigned/)(//(/Int4:u_int,Int4:u_int/))(//)"
    "(/Int2:unsigned,Int2:unsigned,Int2:unsigned/(/Int4:u_int,Int4:u_int/))(//)"
    "(/Int4:unsigned,Int1:unsigned,Int2:unsigned,Int2:unsigned,Int1:unsigned,Int1:unsigned,Int1:unsigned,"
    "Int1:unsigned,Int1:unsigned,Int1:unsigned,Int1:unsigned,Int1:unsigned/)(//)"
    "((/Int4:unsigned,Int4:unsigned/)/Int2:unsigned,Int2:unsigned/)";
static_assert(sizeof(szSignature) == 375 + 1, "the moru signature has 375 characters");

namespace {

// " label=" and the two entries of an indexed field, each after a blank.
std::ostream& entries(std::ostream& os, const char* szLabel, const u32 mp[2])
{
    return os << ' ' << std::dec << szLabel << ' ' << mp[0] << ' ' << mp[1];
}

xostream& put1s(xostream& xo, const u32 mp[2]) { return xo.putInt1(mp[0]).putInt1(mp[1]); }
xostream& put2s(xostream& xo, const u32 mp[2]) { return xo.putInt2(mp[0]).putInt2(mp[1]); }
xistream& get1s(xistream& xi, u32 mp[2]) { return xi.getInt1(mp[0]).getInt1(mp[1]); }
xistream& get2s(xistream& xi, u32 mp[2]) { return xi.getInt2(mp[0]).getInt2(mp[1]); }

}  // namespace

MoruPulseConfig* pMoruPulseConfig(YekControl* puc) { return viewOf<MoruPulseConfig>(puc, 4, 4); }
MoruSetTimer* pMoruSetTimer(YekControl* puc) { return viewOf<MoruSetTimer>(puc, 5, 5); }
MoruInit* pMoruInit(YekControl* puc) { return viewOf<MoruInit>(puc, 6, 6); }
MoruConfig* pMoruConfig(YekControl* puc) { return viewOf<MoruConfig>(puc, 7, 7); }
MoruSample* pMoruSample(YekControl* puc) { return viewOf<MoruSample>(puc, 8, 8); }
MoruStop* pMoruStop(YekControl* puc) { return viewOf<MoruStop>(puc, 9, 9); }
MoruResp* pMoruResp(YekControl* puc) { return viewOf<MoruResp>(puc, 10, 11); }
MoruSampleResp* pMoruSampleResp(YekControl* puc) { return viewOf<MoruSampleResp>(puc, 11, 11); }

const MoruPulseConfig* pMoruPulseConfig(const YekControl* puc) { return pMoruPulseConfig(const_cast<YekControl*>(puc)); }
const MoruSetTimer* pMoruSetTimer(const YekControl* puc) { return pMoruSetTimer(const_cast<YekControl*>(puc)); }
const MoruInit* pMoruInit(const YekControl* puc) { return pMoruInit(const_cast<YekControl*>(puc)); }
const MoruConfig* pMoruConfig(const YekControl* puc) { return pMoruConfig(const_cast<YekControl*>(puc)); }
const MoruSample* pMoruSample(const YekControl* puc) { return pMoruSample(const_cast<YekControl*>(puc)); }
const MoruStop* pMoruStop(const YekControl* puc) { return pMoruStop(const_cast<YekControl*>(puc)); }
const MoruResp* pMoruResp(const YekControl* puc) { return pMoruResp(const_cast<YekControl*>(puc)); }
const MoruSampleResp* pMoruSampleResp(const YekControl* puc) { return pMoruSampleResp(const_cast<YekControl*>(puc)); }

std::ostream& operator<<(std::ostream& os, const MoruPulseConfig& m) { return os << static_cast<const YekControl&>(m); }

std::ostream& operator<<(std::ostream& os, const MoruSetTimer& m)
{
    return os << static_cast<const YekControl&>(m) << ' ' << std::dec << "ti=" << m._ti;
}

std::ostream& operator<<(std::ostream& os, const MoruInit& m) { return os << static_cast<const YekControl&>(m); }

std::ostream& operator<<(std::ostream& os, const MoruConfig& m)
{
    os << static_cast<const YekControl&>(m);
    field(os, "cScale=", m._cScale);
    entries(os, "fIgnFirst=", m._mpfIgnFirst);
    entries(os, "cLimit=", m._mpcLimit);
    entries(os, "eFilt=", m._mpeFilt);
    entries(os, "eEdge=", m._mpeEdge);
    entries(os, "eFil=", m._mpeFil);
    entries(os, "eEna=", m._mpeEna);
    entries(os, "eArm=", m._mpeArm);
    entries(os, "eExc=", m._mpeExc);
    entries(os, "eFiExc=", m._mpeFiExc);
    entries(os, "eFiArm=", m._mpeFiArm);
    return entries(os, "eFiEna=", m._mpeFiEna);
}

std::ostream& operator<<(std::ostream& os, const MoruSample& m)
{
    os << static_cast<const YekControl&>(m) << ' ' << std::dec << "tiTmo=" << m._tiTmo;
    field(os, "cFifo=", m._cFifo);
    entries(os, "iFifo=", m._mpiFifo);
    return field(os, "cMax=", m._cMax);
}

std::ostream& operator<<(std::ostream& os, const MoruStop& m) { return os << static_cast<const YekControl&>(m); }

std::ostream& operator<<(std::ostream& os, const MoruResp& m)
{
    os << static_cast<const YekControl&>(m);
    field(os, "eErr=", m._eErr);
    return field(os, "iErr=", m._iErr);
}

std::ostream& operator<<(std::ostream& os, const MoruSampleResp& m)
{
    os << static_cast<const MoruResp&>(m);
    field(os, "cSamples=", m._cSamples);
    return field(os, "iFifo=", m._iFifo);
}

xostream& xmarshal(xostream& xo, const MoruPulseConfig& m) { return typeByte(xo, m); }
xostream& xmarshal(xostream& xo, const MoruSetTimer& m) { return KVdepYek100::xmarshal(typeByte(xo, m), m._ti); }
xostream& xmarshal(xostream& xo, const MoruInit& m) { return typeByte(xo, m); }

xostream& xmarshal(xostream& xo, const MoruConfig& m)
{
    typeByte(xo, m).putInt4(m._cScale);
    put1s(xo, m._mpfIgnFirst);
    put2s(xo, m._mpcLimit);
    put2s(xo, m._mpeFilt);
    put1s(xo, m._mpeEdge);
    put1s(xo, m._mpeFil);
    put1s(xo, m._mpeEna);
    put1s(xo, m._mpeArm);
    put1s(xo, m._mpeExc);
    put1s(xo, m._mpeFiExc);
    put1s(xo, m._mpeFiArm);
    return put1s(xo, m._mpeFiEna);
}

xostream& xmarshal(xostream& xo, const MoruSample& m)
{
    KVdepYek100::xmarshal(typeByte(xo, m), m._tiTmo).putInt2(m._cFifo);
    return put2s(xo, m._mpiFifo).putInt2(m._cMax);
}

xostream& xmarshal(xostream& xo, const MoruStop& m) { return typeByte(xo, m); }
xostream& xmarshal(xostream& xo, const MoruResp& m) { return typeByte(xo, m).putInt4(m._eErr).putInt4(m._iErr); }

xostream& xmarshal(xostream& xo, const MoruSampleResp& m)
{
    return typeByte(xo, m).putInt4(m._eErr).putInt4(m._iErr).putInt2(m._cSamples).putInt2(m._iFifo);
}

xistream& xunmarsh(xistream& xi, MoruPulseConfig&) { return xi; }
xistream& xunmarsh(xistream& xi, MoruSetTimer& m) { return KVdepYek100::xunmarsh(xi, m._ti); }
xistream& xunmarsh(xistream& xi, MoruInit&) { return xi; }

xistream& xunmarsh(xistream& xi, MoruConfig& m)
{
    xi.getInt4(m._cScale);
    get1s(xi, m._mpfIgnFirst);
    get2s(xi, m._mpcLimit);
    get2s(xi, m._mpeFilt);
    get1s(xi, m._mpeEdge);
    get1s(xi, m._mpeFil);
    get1s(xi, m._mpeEna);
    get1s(xi, m._mpeArm);
    get1s(xi, m._mpeExc);
    get1s(xi, m._mpeFiExc);
    get1s(xi, m._mpeFiArm);
    return get1s(xi, m._mpeFiEna);
}

xistream& xunmarsh(xistream& xi, MoruSample& m)
{
    KVdepYek100::xunmarsh(xi, m._tiTmo).getInt2(m._cFifo);
    return get2s(xi, m._mpiFifo).getInt2(m._cMax);
}

xistream& xunmarsh(xistream& xi, MoruStop&) { return xi; }
xistream& xunmarsh(xistream& xi, MoruResp& m) { return xi.getInt4(m._eErr).getInt4(m._iErr); }

xistream& xunmarsh(xistream& xi, MoruSampleResp& m)
{
    return xi.getInt4(m._eErr).getInt4(m._iErr).getInt2(m._cSamples).getInt2(m._iFifo);
}

Moru_moru_Proto::Moru_moru_Proto() : YekProto(szSignature, "moru") {}

xistream& Moru_moru_Proto::unmarsh(xistream& xi, const YekControl& hdr, YekControl* out) const
{
    // hdr may be *out: read the type before anything is built there.
    int eType = hdr.eType();
    switch (eType) {
    case eMoruPulseConfig:
        return readAt<MoruPulseConfig>(xi, eType, out);
    case eMoruSetTimer:
        return readAt<MoruSetTimer>(xi, eType, out);
    case eMoruInit:
        return readAt<MoruInit>(xi, eType, out);
    case eMoruConfig:
        return readAt<MoruConfig>(xi, eType, out);
    case eMoruSample:
        return readAt<MoruSample>(xi, eType, out);
    case eMoruStop:
        return readAt<MoruStop>(xi, eType, out);
    case eMoruResp:
        return readAt<MoruResp>(xi, eType, out);
    case eMoruSampleResp:
        return readAt<MoruSampleResp>(xi, eType, out);
    default:
        xi.setFailed(szSrc, 353);
        return xi;
    }
}

xostream& Moru_moru_Proto::marshal(xostream& xo, const YekControl* puc) const
{
    switch (puc->eType()) {
    case eMoruPulseConfig:
        return xmarshal(xo, *static_cast<const MoruPulseConfig*>(puc));
    case eMoruSetTimer:
        return xmarshal(xo, *static_cast<const MoruSetTimer*>(puc));
    case eMoruInit:
        return xmarshal(xo, *static_cast<const MoruInit*>(puc));
    case eMoruConfig:
        return xmarshal(xo, *static_cast<const MoruConfig*>(puc));
    case eMoruSample:
        return xmarshal(xo, *static_cast<const MoruSample*>(puc));
    case eMoruStop:
        return xmarshal(xo, *static_cast<const MoruStop*>(puc));
    case eMoruResp:
        return xmarshal(xo, *static_cast<const MoruResp*>(puc));
    case eMoruSampleResp:
        return xmarshal(xo, *static_cast<const MoruSampleResp*>(puc));
    default:
        return YekProto::marshal(xo, puc);
    }
}

}  // namespace KVdepMoru100
