// The qir messages, their views, print and wire forms, and the protocol object.
#include "yekpro_qir.h"

#ifndef KV_KERNEL
#include <ostream>
#endif

#include "yekpro_kit.h"
#include "yekpro_vaq.h"

namespace KVdepQir100 {

#ifndef KV_KERNEL
using KVdepYek100::ProtoKit::field;
#endif
using KVdepYek100::ProtoKit::readAt;
using KVdepYek100::ProtoKit::typeByte;
using KVdepYek100::ProtoKit::viewOf;

using KVdepVaq100::Vaq_vaq_Proto;

// The vaq signature, then the groups of QirFini, QirResp, QirWrResp, QirInfo,
// QirInfoResp, QirRead, QirWrite, QirTrf and QirCmd. The QirTrf group lists
// its scalars before its time, although the time goes first on the wire.
static const char szSignature[] =
    "(//)(//)(/Int4:u_int,Int4:u_int,Int4:u_int/)"
    "(//)"
    "(/Int4:u_int,Int4:u_int,Int4:u_int/)"
    "((/Int4:u_int,Int4:u_int,Int4:u_int/)/Int4:u_int/)"
    "(/Int1:u_int,Int4:u_int,Int4:u_int/)"
    "((/Int4:u_int,Int4:u_int,Int4:u_int/)//(/Int1:u_int,Int4:u_int,Int4:u_int/))"
    "(/Int1:u_int/)"
    "((/Int1:u_int/)/Int2:u_int/)"
    "(/Int4:u_int,Int1:bool/(/Int4:u_int,Int4:u_int/))"
    "((/Int4:u_int,Int1:bool/(/Int4:u_int,Int4:u_int/))//)";
static_assert(sizeof(szSignature) == 390 + 1, "the qir signature has 390 characters");

QirRead* pQirRead(YekControl* puc) { return viewOf<QirRead>(puc, eQirRead, eQirWrite); }
QirWrite* pQirWrite(YekControl* puc) { return viewOf<QirWrite>(puc, eQirWrite, eQirWrite); }
QirFini* pQirFini(YekControl* puc) { return viewOf<QirFini>(puc, eQirFini, eQirFini); }
QirCmd* pQirCmd(YekControl* puc) { return viewOf<QirCmd>(puc, eQirCmd, eQirCmd); }
QirResp* pQirResp(YekControl* puc) { return viewOf<QirResp>(puc, eQirResp, eQirInfoResp); }
QirWrResp* pQirWrResp(YekControl* puc) { return viewOf<QirWrResp>(puc, eQirWrResp, eQirWrResp); }
QirInfoResp* pQirInfoResp(YekControl* puc) { return viewOf<QirInfoResp>(puc, eQirInfoResp, eQirInfoResp); }

QirTrf* pQirTrf(YekControl* puc)
{
    // QirFini (10) lies between the transfer and the command transfer.
    if (puc && (puc->eType() == eQirTrf || puc->eType() == eQirCmd))
        return static_cast<QirTrf*>(puc);
    return nullptr;
}

const QirRead* pQirRead(const YekControl* puc) { return pQirRead(const_cast<YekControl*>(puc)); }
const QirWrite* pQirWrite(const YekControl* puc) { return pQirWrite(const_cast<YekControl*>(puc)); }
const QirTrf* pQirTrf(const YekControl* puc) { return pQirTrf(const_cast<YekControl*>(puc)); }
const QirFini* pQirFini(const YekControl* puc) { return pQirFini(const_cast<YekControl*>(puc)); }
const QirCmd* pQirCmd(const YekControl* puc) { return pQirCmd(const_cast<YekControl*>(puc)); }
const QirResp* pQirResp(const YekControl* puc) { return pQirResp(const_cast<YekControl*>(puc)); }
const QirWrResp* pQirWrResp(const YekControl* puc) { return pQirWrResp(const_cast<YekControl*>(puc)); }
const QirInfoResp* pQirInfoResp(const YekControl* puc) { return pQirInfoResp(const_cast<YekControl*>(puc)); }

#ifndef KV_KERNEL
std::ostream& operator<<(std::ostream& os, const QirRead& m)
{
    return field(os << static_cast<const YekControl&>(m), "iPort=", m._iPort);
}

std::ostream& operator<<(std::ostream& os, const QirWrite& m)
{
    return field(os << static_cast<const QirRead&>(m), "iVal=", m._iVal);
}

std::ostream& operator<<(std::ostream& os, const QirTrf& m)
{
    os << static_cast<const YekControl&>(m) << ' ' << std::dec << "tiTmo=" << m._tiTmo;
    return field(field(os, "iTrans=", m._iTrans), "fLast=", m._fLast);
}

std::ostream& operator<<(std::ostream& os, const QirFini& m)
{
    return os << static_cast<const YekControl&>(m);
}

std::ostream& operator<<(std::ostream& os, const QirCmd& m)
{
    return os << static_cast<const QirTrf&>(m);
}

std::ostream& operator<<(std::ostream& os, const QirResp& m)
{
    os << static_cast<const YekControl&>(m);
    return field(field(field(os, "eErr=", m._eErr), "iErr=", m._iErr), "fStat=", m._fStat);
}

std::ostream& operator<<(std::ostream& os, const QirWrResp& m)
{
    return field(os << static_cast<const QirResp&>(m), "cTrans=", m._cTrans);
}

std::ostream& operator<<(std::ostream& os, const QirInfo& info)
{
    return field(field(field(os, "eArch=", info._eArch), "cIntr=", info._cIntr), "fLinec=", info._fLinec);
}

std::ostream& operator<<(std::ostream& os, const QirInfoResp& m)
{
    return os << static_cast<const QirResp&>(m) << ' ' << "info=" << m._info;
}
#endif

xostream& xmarshal(xostream& xo, const QirRead& m)
{
    return typeByte(xo, m).putInt1(m._iPort);
}

xostream& xmarshal(xostream& xo, const QirWrite& m)
{
    return typeByte(xo, m).putInt1(m._iPort).putInt2(m._iVal);
}

xostream& xmarshal(xostream& xo, const QirTrf& m)
{
    KVdepYek100::xmarshal(typeByte(xo, m), m._tiTmo);
    return xo.putInt4(m._iTrans).putInt1(m._fLast);
}

xostream& xmarshal(xostream& xo, const QirFini& m)
{
    return typeByte(xo, m);
}

xostream& xmarshal(xostream& xo, const QirCmd& m)
{
    return xmarshal(xo, static_cast<const QirTrf&>(m));
}

xostream& xmarshal(xostream& xo, const QirResp& m)
{
    return typeByte(xo, m).putInt4(m._eErr).putInt4(m._iErr).putInt4(m._fStat);
}

xostream& xmarshal(xostream& xo, const QirWrResp& m)
{
    return xmarshal(xo, static_cast<const QirResp&>(m)).putInt4(m._cTrans);
}

xostream& xmarshal(xostream& xo, const QirInfo& info)
{
    return xo.putInt1(info._eArch).putInt4(info._cIntr).putInt4(info._fLinec);
}

xostream& xmarshal(xostream& xo, const QirInfoResp& m)
{
    return xmarshal(xmarshal(xo, static_cast<const QirResp&>(m)), m._info);
}

xistream& xunmarsh(xistream& xi, QirRead& m)
{
    return xi.getInt1(m._iPort);
}

xistream& xunmarsh(xistream& xi, QirWrite& m)
{
    return xi.getInt1(m._iPort).getInt2(m._iVal);
}

xistream& xunmarsh(xistream& xi, QirTrf& m)
{
    return KVdepYek100::xunmarsh(xi, m._tiTmo).getInt4(m._iTrans).getInt1(m._fLast);
}

xistream& xunmarsh(xistream& xi, QirFini&)
{
    return xi;
}

xistream& xunmarsh(xistream& xi, QirCmd& m)
{
    return xunmarsh(xi, static_cast<QirTrf&>(m));
}

xistream& xunmarsh(xistream& xi, QirResp& m)
{
    return xi.getInt4(m._eErr).getInt4(m._iErr).getInt4(m._fStat);
}

xistream& xunmarsh(xistream& xi, QirWrResp& m)
{
    return xunmarsh(xi, static_cast<QirResp&>(m)).getInt4(m._cTrans);
}

xistream& xunmarsh(xistream& xi, QirInfo& info)
{
    return xi.getInt1(info._eArch).getInt4(info._cIntr).getInt4(info._fLinec);
}

xistream& xunmarsh(xistream& xi, QirInfoResp& m)
{
    return xunmarsh(xunmarsh(xi, static_cast<QirResp&>(m)), m._info);
}

Qir_qir_Proto::Qir_qir_Proto() : YekProto(szSignature, "qir") {}

xistream& Qir_qir_Proto::unmarsh(xistream& xi, const YekControl& hdr, YekControl* out) const
{
    // hdr may be *out: read the type before anything is built there.
    int eType = hdr.eType();
    switch (eType) {
    case eQirRead: return readAt<QirRead>(xi, eType, out);
    case eQirWrite: return readAt<QirWrite>(xi, eType, out);
    case eQirTrf: return readAt<QirTrf>(xi, eType, out);
    case eQirFini: return readAt<QirFini>(xi, eType, out);
    case eQirCmd: return readAt<QirCmd>(xi, eType, out);
    case eQirResp: return readAt<QirResp>(xi, eType, out);
    case eQirWrResp: return readAt<QirWrResp>(xi, eType, out);
    case eQirInfoResp: return readAt<QirInfoResp>(xi, eType, out);
    default: return Vaq_vaq_Proto::unmarshVaq(xi, hdr, out);
    }
}

xostream& Qir_qir_Proto::marshal(xostream& xo, const YekControl* puc) const
{
    switch (puc->eType()) {
    case eQirRead: return xmarshal(xo, *static_cast<const QirRead*>(puc));
    case eQirWrite: return xmarshal(xo, *static_cast<const QirWrite*>(puc));
    case eQirTrf: return xmarshal(xo, *static_cast<const QirTrf*>(puc));
    case eQirFini: return xmarshal(xo, *static_cast<const QirFini*>(puc));
    case eQirCmd: return xmarshal(xo, *static_cast<const QirCmd*>(puc));
    case eQirResp: return xmarshal(xo, *static_cast<const QirResp*>(puc));
    case eQirWrResp: return xmarshal(xo, *static_cast<const QirWrResp*>(puc));
    case eQirInfoResp: return xmarshal(xo, *static_cast<const QirInfoResp*>(puc));
    default: return Vaq_vaq_Proto::marshalVaq(xo, puc);
    }
}

}  // namespace KVdepQir100
