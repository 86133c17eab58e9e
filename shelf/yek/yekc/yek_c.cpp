// The host environment over the host's callback table.
#include "yek_c.h"

namespace KVdepYek100 {

Time YekEnvRed::tiNext(const Time& ti)
{
    Time tiHost;
    if (_pueC && _pueC->_pFtiNextTick)
        _pueC->_pFtiNextTick(&tiHost);
    return tiHost + ti;
}

void YekEnvRed::sigGet(int iCtx, YekChanKern* pcn)
{
    if (_pueC && _pueC->_pFsigGet)
        _pueC->_pFsigGet(iCtx, pcn ? pcn->getHandle() : nullptr);
}

void YekEnvRed::sigPut(int iCtx, YekChanKern* pcn)
{
    if (_pueC && _pueC->_pFsigPut)
        _pueC->_pFsigPut(iCtx, pcn ? pcn->getHandle() : nullptr);
}

}  // namespace KVdepYek100
