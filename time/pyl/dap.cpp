// The digital-I/O initializer.
#include "dap.h"

#include "fexassert.h"

namespace KVdepDev100 {

static const char szSrc[] = "dap";

PylLocalInitializer::PylLocalInitializer(const char* szDevice) : _ptm(nullptr), _puc(nullptr)
{
    _puc = new YekChanDevio(&KVdepSio100::theSio_sio_Proto, szDevice, "0");
    if (_puc->isGood())
        init(_puc);
    else
        set(E_FAIL, _puc->szErr(), _puc->iErr(), nullptr);
}

PylLocalInitializer::PylLocalInitializer(YekChanDevio* puc) : _ptm(nullptr), _puc(puc)
{
    // A channel that did not open is reported like a failed open.
    if (!puc)
        setFailed("can't open", 0);
    else if (!puc->isGood())
        set(E_FAIL, puc->szErr(), puc->iErr(), nullptr);
    else
        init(puc);
}

PylLocalInitializer::~PylLocalInitializer()
{
    _lcDino.fini();
    delete _ptm;
    delete _puc;
}

void PylLocalInitializer::init(YekChanDevio* puc)
{
    FEX_ASSERT(puc && puc->isGood(), "puc->isGood()", szSrc, 9);
    _puc = puc;
    {
        KVdepSio100::SioTaskPlex plex(puc, puc);
        plex.callVaqOpen();
        if (plex.isFail()) {
            setFailed(szSrc, 15, static_cast<const Failables*>(&plex));
            return;
        }
        // A board with fewer identity bytes than a model code needs has no
        // model, which is not the one supported either.
        if (!plex.isModel(eModelPyl2817)) {
            setFailed("device model not supported", plex.eModel(), static_cast<const Failables*>(&plex));
            return;
        }
    }
    _ptm = new PylMux(_puc);
    if (_lcDino.init(_ptm, "dinoUser", &theDino_dino_Proto).isFail())
        setFailed("lcDino init failed", 0, static_cast<const Failable*>(&_lcDino));
}

int PylLocalInitializer::initDinoUser(const std::string& sgName, KVdepDino100::DinoPlex* pdp)
{
    KVdepYek100::YekChanLocal* pcn = _lcDino.pucClient();
    if (!isGood() || !pdp || !pcn || pcn->pux())
        return -1;
    return pdp->init(sgName, pcn);
}

}  // namespace KVdepDev100
