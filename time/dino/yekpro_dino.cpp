// The dino messages, their views, print and wire forms, and the protocol class.
#include "yekpro_dino.h"

#include <ostream>

#include "yekpro_kit.h"

namespace KVdepDino100 {

using KVdepYek100::ProtoKit::field;
using KVdepYek100::ProtoKit::readAt;
using KVdepYek100::ProtoKit::typeByte;
using KVdepYek100::ProtoKit::viewOf;

static const char szSrc[] = "yekpro_dino";

// One group per message class in the order of types 4 to 7.
static const char szSignature[] =
    "(/Int4:unsigned,Int4:unsigned/)"
    "((/Int4:unsigned,Int4:unsigned/)/Int1:unsigned,Int2:unsigned/)"
    "(//)"
    "(//(/Int4:u_int,Int4:u_int/))";
static_assert(sizeof(szSignature) == 126 + 1, "the dino signature has 126 characters");

DinoResp* pDinoResp(YekControl* puc) { return viewOf<DinoResp>(puc, eDinoResp, eDinoOpenResp); }
DinoOpenResp* pDinoOpenResp(YekControl* puc) { return viewOf<DinoOpenResp>(puc, eDinoOpenResp, eDinoOpenResp); }
DinoOpen* pDinoOpen(YekControl* puc) { return viewOf<DinoOpen>(puc, eDinoOpen, eDinoOpen); }
DinoSync* pDinoSync(YekControl* puc) { return viewOf<DinoSync>(puc, eDinoSync, eDinoSync); }
const DinoResp* pDinoResp(const YekControl* puc) { return pDinoResp(const_cast<YekControl*>(puc)); }
const DinoOpenResp* pDinoOpenResp(const YekControl* puc) { return pDinoOpenResp(const_cast<YekControl*>(puc)); }
const DinoOpen* pDinoOpen(const YekControl* puc) { return pDinoOpen(const_cast<YekControl*>(puc)); }
const DinoSync* pDinoSync(const YekControl* puc) { return pDinoSync(const_cast<YekControl*>(puc)); }

std::ostream& operator<<(std::ostream& os, const DinoResp& m)
{
    return field(field(os << static_cast<const YekControl&>(m), "eErr=", m._eErr), "iErr=", m._iErr);
}

std::ostream& operator<<(std::ostream& os, const DinoOpenResp& m)
{
    return field(field(os << static_cast<const DinoResp&>(m), "fBit=", m._fBit), "iByte=", m._iByte);
}

std::ostream& operator<<(std::ostream& os, const DinoOpen& m)
{
    return os << static_cast<const YekControl&>(m);
}

std::ostream& operator<<(std::ostream& os, const DinoSync& m)
{
    return os << static_cast<const YekControl&>(m) << " tiTmo=" << m._tiTmo;
}

xostream& xmarshal(xostream& xo, const DinoResp& m)
{
    return typeByte(xo, m).putInt4(m._eErr).putInt4(m._iErr);
}

xostream& xmarshal(xostream& xo, const DinoOpenResp& m)
{
    return typeByte(xo, m).putInt4(m._eErr).putInt4(m._iErr).putInt1(m._fBit).putInt2(m._iByte);
}

xostream& xmarshal(xostream& xo, const DinoOpen& m)
{
    return typeByte(xo, m);
}

xostream& xmarshal(xostream& xo, const DinoSync& m)
{
    return KVdepYek100::xmarshal(typeByte(xo, m), m._tiTmo);
}

xistream& xunmarsh(xistream& xi, DinoResp& m)
{
    return xi.getInt4(m._eErr).getInt4(m._iErr);
}

xistream& xunmarsh(xistream& xi, DinoOpenResp& m)
{
    return xi.getInt4(m._eErr).getInt4(m._iErr).getInt1(m._fBit).getInt2(m._iByte);
}

xistream& xunmarsh(xistream& xi, DinoOpen&)
{
    return xi;
}

xistream& xunmarsh(xistream& xi, DinoSync& m)
{
    return KVdepYek100::xunmarsh(xi, m._tiTmo);
}

Dino_dino_Proto::Dino_dino_Proto() : YekProto(szSignature, "dino") {}

xistream& Dino_dino_Proto::unmarsh(xistream& xi, const YekControl& hdr, YekControl* out) const
{
    // hdr may be *out: read the type before anything is built there.
    int eType = hdr.eType();
    switch (eType) {
    case eDinoResp: return readAt<DinoResp>(xi, eType, out);
    case eDinoOpenResp: return readAt<DinoOpenResp>(xi, eType, out);
    case eDinoOpen: return readAt<DinoOpen>(xi, eType, out);
    case eDinoSync: return readAt<DinoSync>(xi, eType, out);
    default:
        xi.setFailed(szSrc, 169);
        return xi;
    }
}

xostream& Dino_dino_Proto::marshal(xostream& xo, const YekControl* puc) const
{
    switch (puc->eType()) {
    case eDinoResp: return xmarshal(xo, *static_cast<const DinoResp*>(puc));
    case eDinoOpenResp: return xmarshal(xo, *static_cast<const DinoOpenResp*>(puc));
    case eDinoOpen: return xmarshal(xo, *static_cast<const DinoOpen*>(puc));
    case eDinoSync: return xmarshal(xo, *static_cast<const DinoSync*>(puc));
    default: return YekProto::marshal(xo, puc);
    }
}

}  // namespace KVdepDino100
