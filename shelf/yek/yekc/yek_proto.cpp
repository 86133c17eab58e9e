// Protocol descriptors: the signature prefix test and the core marshalling.
#include "yek.h"

#include <new>

namespace KVdepYek100 {

static const char szSrc[] = "yek";

YekProto::~YekProto() = default;

bool YekProto::match(const char* szServer, const char* szClient)
{
    if (!szServer || !szClient)
        return !szServer && !szClient;
    while (*szServer && *szClient && *szServer == *szClient) {
        ++szServer;
        ++szClient;
    }
    return *szClient == '\0';
}

bool operator==(const YekProto& a, const YekProto& b)
{
    return YekProto::match(a.szProto(), b.szProto());
}

xistream& YekProto::unmarshCore(xistream& xi, const YekControl& hdr, YekControl* out)
{
    // hdr may be *out: read the type before anything is built there.
    unsigned eType = static_cast<unsigned>(hdr.eType());
    if (eType > 2) {
        xi.setFailed(szSrc, 167);
        return xi;
    }
    // A core control has no fields: a bare header of the type.
    new (out) YekControl(static_cast<int>(eType), sizeof(YekControl));
    return xi;
}

xostream& YekProto::marshalCore(xostream& xo, const YekControl* puc)
{
    if (static_cast<unsigned>(puc->eType()) > 2) {
        xo.setFailed(szSrc, 179);
        return xo;
    }
    return xmarshal(xo, *puc);
}

xistream& YekProto::unmarsh(xistream& xi, const YekControl& hdr, YekControl* out) const
{
    return unmarshCore(xi, hdr, out);
}

xostream& YekProto::marshal(xostream& xo, const YekControl* puc) const
{
    return marshalCore(xo, puc);
}

}  // namespace KVdepYek100
