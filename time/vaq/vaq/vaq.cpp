// The device plexer and the open exchange.
#include "vaq.h"

#include <iostream>
#include <sstream>

#include "fexassert.h"

namespace KVdepVaq100 {

using KVdepYek100::Pmd;

static const char szSrc[] = "vaq";

namespace {

bool speaksVaq(const Channel* pcn)
{
    return pcn && pcn->pup() && *(pcn->pup()) == theVaq_vaq_Proto;
}

}  // namespace

void reportUnexpected(const KVdepYek100::YekControl& uc)
{
    // Through a string: the control's print form leaves its stream in hex.
    std::ostringstream os;
    os << uc;
    std::cerr << "unexpected response " << os.str() << "\n";
}

VaqTaskPlex::VaqTaskPlex(Channel* puc, ChanUser* pucIo)
    : TaskPlex(puc), _pucIo(pucIo), _puc(puc), _fRun(false)
{
    FEX_ASSERT(speaksVaq(pucIo), "*(pucIo->pup()) == theVaq_vaq_Proto", szSrc, 52);
    FEX_ASSERT(speaksVaq(puc), "*(puc->pup()) == theVaq_vaq_Proto", szSrc, 53);
}

VaqTaskPlex::~VaqTaskPlex() = default;

void VaqTaskPlex::done(Task*)
{
    _fRun = false;
}

bool VaqTaskPlex::run(Func* ptf)
{
    FEX_ASSERT(!_fRun, "!_fRun", szSrc, 149);
    _fRun = true;
    TaskFunc::run(ptf);
    sigUp(0, _puc, 0);
    runio(_pucIo);
    if (!_fRun)
        return true;

    // The pump stopped before the Func reported its end: take it off the
    // engine so that the plexer can run the next one.
    delete drop(0);
    _fRun = false;
    if (!_pucIo->isGood())
        set(E_BAD, "exchange failed", 0, static_cast<const Failables*>(_pucIo));
    else
        set(E_FAIL, "exchange not finished", 0, static_cast<const Failables*>(nullptr));
    return false;
}

bool VaqTaskPlex::runStep(Func* ptf, const Failable* pfaStep)
{
    if (!run(ptf))
        return false;
    if (pfaStep->isFail()) {
        clear();
        setFailed(pfaStep->szErr(), pfaStep->iErr());
        return false;
    }
    return true;
}

Failables& VaqTaskPlex::callVaqOpen()
{
    if (isVaqOpen())
        return *this;
    // Each open is judged on its own; a broken connection stays broken.
    if (isBad())
        return *this;
    clear();

    VaqOpenFunc* ptf = new VaqOpenFunc(0);
    if (!run(ptf))
        return *this;
    if (!isGood())
        return *this;
    FEX_ASSERT(ptf == ptfRet(), "ptf==ptfRet()", szSrc, 214);
    if (!ptf->isGood())
        return setFailed(szSrc, 215, static_cast<const Failable*>(ptf));
    _sgIdent = ptf->sgIdent();
    return *this;
}

int VaqTaskPlex::eModel() const
{
    if (_sgIdent.size() < 6)
        return -1;
    return static_cast<unsigned char>(_sgIdent[4]) * 256 + static_cast<unsigned char>(_sgIdent[3]);
}

bool VaqTaskPlex::isModel(int e) const
{
    return _sgIdent.size() >= 6 && eModel() == e;
}

VaqOpenFunc::~VaqOpenFunc() = default;

int VaqOpenFunc::func(int e)
{
    int cn = _cnVaq;
    switch (e) {
    case 0:
        return setup(1, fCanput(cn), 0);
    case 1:
        new (pmu(cn)->puc()) VaqInit();
        return setup(2, fCanget(cn), fSendup(cn));
    case 2: {
        Pmd pm = pmd(cn);
        if (const VaqResp* pr = pVaqResp(pm->puc())) {
            if (pr->eErr() != 0) {
                setFailed("request failed", static_cast<int>(pr->eErr()));
            } else {
                std::stringbuf sb;
                KVdepYek100::getbuf(&sb, pm->pug());
                _sgIdent = sb.str();
            }
        } else {
            // Board input: a failed exchange, not a broken invariant.
            reportUnexpected(*pm->puc());
            setFailed("unexpected response", pm->puc()->eType());
        }
        return setup(-1, 0, fReleasedown(cn));
    }
    }
    FEX_ASSERT(0, "0", szSrc, 192);
    return setup(-1, 0, 0);
}

}  // namespace KVdepVaq100
