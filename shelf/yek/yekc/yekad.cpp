// Region lookup of adapter descriptors and the empty memory request.
#include "yekad.h"

static const RegionDesc* regionOfLength(const RegionDesc& rd, unsigned len)
{
    return rd._l == len ? &rd : nullptr;
}

const RegionDesc* getRegionBySize(const YekAdapt* pad, unsigned len)
{
    if (!pad)
        return nullptr;
    // Every adapter class begins with its header, so the header's address is
    // the adapter's.
    switch (pad->_eClass) {
    case eAdaptPci: {
        const YekAdaptPci* ppci = reinterpret_cast<const YekAdaptPci*>(pad);
        for (const RegionDesc& rd : ppci->_mprd)
            if (rd._l == len)
                return &rd;
        return nullptr;
    }
    case eAdaptIsa:
        return regionOfLength(reinterpret_cast<const YekAdaptIsa*>(pad)->_rd, len);
    case eAdaptPcm:
        return regionOfLength(reinterpret_cast<const YekAdaptPcm*>(pad)->_rd, len);
    default:
        return nullptr;
    }
}

namespace KVdepYek100 {

int YekMod_getMem(YekMod*, YekMemInfo*, int)
{
    return 0;
}

}  // namespace KVdepYek100
