// Opening and closing the board of an instance, and what its transport
// failures do to the instance.
#include <cstring>
#include <string>

#include "fexassert.h"
#include "qir.h"
#include "stdapihix.h"
#include "vaq.h"

// The FPGA configuration image linked into the library.
extern "C" const char _binary_04b453160000_0131_rbf_start[];
extern "C" const char _binary_04b453160000_0131_rbf_end[];

using KVdepQir100::QirLocalTaskInitializer;
using KVdepQir100::QirTaskPlex;

KVdepQir100::QirTaskPlex* StdApiHixBurst::prp() const { return _pli ? _pli->prp() : nullptr; }

KVdepQir100::QirTaskPlex* StdApiHixBurst::prpSim() const
{
    if (!_fSim)
        return nullptr;
    if (_pliFreq)
        return _pliFreq->prp();
    return prp();
}

void StdApiHixBurst::fini()
{
    delete _pli;
    delete _pliFreq;
    _pli = nullptr;
    _pliFreq = nullptr;
}

int StdApiHixBurst::hix_fini()
{
    fini();
    return _setStatus("hix_fini", faOk);
}

namespace {

// Opens a board; null with the instance status set on failure.
QirLocalTaskInitializer* open(StdApiHixBurst& inst, const char* szDevice)
{
    QirLocalTaskInitializer* pli = new QirLocalTaskInitializer(szDevice);
    if (!pli->isFail())
        return pli;
    inst._setStatus("hix_init", static_cast<const Failables&>(*pli));
    delete pli;
    return nullptr;
}

const Failables& loadImage(QirTaskPlex* prp)
{
    KVdepQir100::Dptr dp{static_cast<size_t>(_binary_04b453160000_0131_rbf_end - _binary_04b453160000_0131_rbf_start),
                         _binary_04b453160000_0131_rbf_start};
    return prp->callQirInitData(reinterpret_cast<const char*>(&dp));
}

}  // namespace

int StdApiHixBurst::hix_init(int fSim)
{
    const char* szFunc = "hix_init";
    hix_fini();
    _fSim = fSim;
    FEX_ASSERT(KVdepYek100::YekProto::match(KVdepQir100::theQir_qir_Proto.szProto(),
                                            KVdepVaq100::theVaq_vaq_Proto.szProto()),
               "YekProto::match(theQir_qir_Proto.szProto(), theVaq_vaq_Proto.szProto())", "hix_burst", 104);
    _pli = open(*this, szDut);
    if (!_pli)
        return -1;
    const Failables& faLoad = loadImage(prp());
    if (faLoad.isFail()) {
        _logFunc(szFunc, "config failed");
        return _setStatus(szFunc, faLoad);
    }
    _logFunc(szFunc, std::string("device : ") + szDut + " " + prp()->sgConfig());
    if (isSim()) {
        if (std::strcmp(szSim, szDut) != 0) {
            _pliFreq = open(*this, szSim);
            if (!_pliFreq)
                return -1;
            const Failables& faSim = loadImage(_pliFreq->prp());
            if (faSim.isFail())
                return _setStatus(szFunc, faSim);
        }
        _logFunc(szFunc, std::string("simulator : ") + szSim + " " + prpSim()->sgConfig());
    }
    return _setStatus(szFunc, faOk);
}

int StdApiHixBurst::refuseClosed(const char* szFunc) { return _setStatus(szFunc, Failable("not initialized", _i)); }

bool StdApiHixBurst::takeTransportFailure(const char* szFunc, QirLocalTaskInitializer* pli)
{
    if (!pli)
        return false;
    const Failables* pfa = nullptr;
    if (pli->puc() && pli->puc()->isBad())
        pfa = pli->puc();
    else if (pli->prp() && pli->prp()->isBad())
        pfa = pli->prp();
    if (!pfa)
        return false;
    _setStatus(szFunc, *pfa);
    return true;
}

bool StdApiHixBurst::transportFailed(const char* szFunc)
{
    return takeTransportFailure(szFunc, _pli) || takeTransportFailure(szFunc, _pliFreq);
}

bool StdApiHixBurst::write(const char* szFunc, QirTaskPlex* prp, int iPort, int iVal)
{
    prp->callQirWrite(iPort, iVal);
    return !transportFailed(szFunc);
}

bool StdApiHixBurst::read(const char* szFunc, int iPort, int* pn)
{
    *pn = prp()->callQirRead(iPort);
    return !transportFailed(szFunc);
}
