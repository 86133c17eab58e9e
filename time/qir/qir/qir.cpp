// The board plexer and its register operations.
#include "qir.h"

#include "fexassert.h"

namespace KVdepQir100 {

using KVdepYek100::Pmd;
using KVdepVaq100::reportUnexpected;

static const char szSrc[] = "qir";

// Built before the library's ordinary static objects, which may use it.
__attribute__((init_priority(1000))) Qir_qir_Proto theQir_qir_Proto;

namespace {

bool speaksQir(const YekChannel* pcn)
{
    return pcn && pcn->pup() && *(pcn->pup()) == theQir_qir_Proto;
}

}  // namespace

QirTaskPlex::QirTaskPlex(YekChannel* puc, YekChanUser* pucIo) : VaqTaskPlex(puc, pucIo)
{
    FEX_ASSERT(speaksQir(pucIo), "*(pucIo->pup()) == theQir_qir_Proto", szSrc, 41);
    FEX_ASSERT(speaksQir(puc), "*(puc->pup()) == theQir_qir_Proto", szSrc, 42);
}

QirTaskPlex::~QirTaskPlex() = default;

int QirTaskPlex::callQirRead(int iPort)
{
    unsigned int nVal = ~0u;
    // An answer that is not a QirResp leaves the value all ones.
    QirReadFunc* ptf = new QirReadFunc(0, iPort, &nVal);
    runStep(ptf, ptf);
    return static_cast<int>(nVal);
}

void QirTaskPlex::callQirWrite(int iPort, int iVal)
{
    QirWriteFunc* ptf = new QirWriteFunc(0, iPort, iVal);
    runStep(ptf, ptf);
}

QirReadFunc::QirReadFunc(int cnQir, int iPort, unsigned int* pnVal) : _cnQir(cnQir), _iPort(iPort), _pnVal(pnVal)
{
    FEX_ASSERT(pnVal, "pnVal", szSrc, 66);
}

QirReadFunc::~QirReadFunc() = default;

int QirReadFunc::func(int eState)
{
    int cn = _cnQir;
    switch (eState) {
    case 0:
        return setup(1, fCanput(cn), 0);
    case 1:
        new (pmu(cn)->puc()) QirRead();
        pQirRead(pmu(cn)->puc())->iPort(static_cast<u_int>(_iPort));
        return setup(2, fCanget(cn), fSendup(cn));
    case 2: {
        Pmd pm = pmd(cn);
        if (const QirResp* pr = pQirResp(pm->puc())) {
            *_pnVal = pr->iErr();
        } else {
            reportUnexpected(*pm->puc());
            setFailed("unexpected response", pm->puc()->eType());
        }
        return setup(-1, 0, fReleasedown(cn));
    }
    }
    FEX_ASSERT(0, "0", szSrc, 90);
    return setup(-1, 0, 0);
}

QirWriteFunc::~QirWriteFunc() = default;

int QirWriteFunc::func(int eState)
{
    int cn = _cnQir;
    switch (eState) {
    case 0:
        return setup(1, fCanput(cn), 0);
    case 1: {
        QirWrite* pw = new (pmu(cn)->puc()) QirWrite();
        pw->iPort(static_cast<u_int>(_iPort));
        pw->iVal(static_cast<u_int>(_iVal));
        return setup(2, fCanget(cn), fSendup(cn));
    }
    case 2: {
        Pmd pm = pmd(cn);
        if (!pQirResp(pm->puc())) {
            reportUnexpected(*pm->puc());
            setFailed("unexpected response", pm->puc()->eType());
        }
        return setup(-1, 0, fReleasedown(cn));
    }
    }
    FEX_ASSERT(0, "0", szSrc, 117);
    return setup(-1, 0, 0);
}

}  // namespace KVdepQir100
