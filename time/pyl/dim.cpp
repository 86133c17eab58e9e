// The board multiplexer, its sync step and the board's port map.
#include "dim.h"

#include <new>

#include "fexassert.h"

namespace KVdepDev100 {

using KVdepSio100::SioReadFunc;
using KVdepSio100::SioWriteFunc;
using KVdepYek100::TaskFunc;

static const char szSrc[] = "dim";

const PortMux::PortClass PylMux::mpPortClass[PylMux::ccPortTypes + 1] = {
    {"dinoUser", &theDino_dino_Proto},
    {nullptr, nullptr},
};

MpSgBi mpSgBi2817()
{
    MpSgBi mp;
    // Inputs: I01-I08 are bits 7..0 of byte 0, I09-I12 bits 7..4 of byte 3.
    const char* mpszIn[] = {"I01", "I02", "I03", "I04", "I05", "I06", "I07", "I08", "I09", "I10", "I11", "I12"};
    for (int k = 0; k < 12; ++k)
        mp[mpszIn[k]] = k < 8 ? std::make_pair(0, 0x80 >> k) : std::make_pair(3, 0x80 >> (k - 8));
    // Outputs: O01-O06 are bits 0..5 of byte 1, O07-O12 bits 0..5 of byte 2.
    const char* mpszOut[] = {"O01", "O02", "O03", "O04", "O05", "O06", "O07", "O08", "O09", "O10", "O11", "O12"};
    for (int k = 0; k < 12; ++k)
        mp[mpszOut[k]] = std::make_pair(1 + k / 6, 1 << (k % 6));
    return mp;
}

PylMux::PylMux(Channel* pucSio) : PortMux(mpPortClass, _mpPo, pucSio), Failables(), mp(mpSgBi2817()), _mpPo()
{
    FEX_ASSERT(pucSio && pucSio->pup() && *(pucSio->pup()) == KVdepSio100::theSio_sio_Proto,
               "*(pucSio->pup()) == KVdepSio100::theSio_sio_Proto", szSrc, 132);
}

PylMux::~PylMux()
{
    // A request that never finished: its Funcs go with its task. Its
    // channels may be gone already, so nothing is released on them.
    for (int i = 0; i < ccPortTypes; ++i) {
        Task* pta = _mpPo[i].pta();
        if (!pta)
            continue;
        if (TaskFunc* ptt = dynamic_cast<TaskFunc*>(pta)) {
            while (!ptt->_stfr.empty()) {
                delete ptt->_stfr.top().ptf();
                ptt->_stfr.pop();
            }
        }
        _mpPo[i].clrTask();
        if (_poDev.pta() == pta)
            _poDev.clrTask();
        delete pta;
    }
}

void PylMux::sigDown(int iCtx, Channel* puc, int hChan)
{
    if (puc != pucDev())
        keepNewestRequest(hChan);
    PortMux::sigDown(iCtx, puc, hChan);
}

Task* PylMux::createTask(Channel* pcn, const PortClass* pPc, Pmd pmd, PortMux* ptm, int h)
{
    Func* ptf = nullptr;
    if (pPc == &mpPortClass[ceDinoUser]) {
        if (KVdepDino100::pDinoOpen(pmd->puc()))
            ptf = new KVdepDino100::DinoOpenServerFunc(mp);
        else if (KVdepDino100::pDinoSync(pmd->puc()))
            ptf = new DinoSyncServerFunc(mp);
        else
            FEX_ASSERT(0, "0", szSrc, 119);
    } else {
        FEX_ASSERT(0, "0", szSrc, 121);
    }
    return new TaskFunc(ptm, h, pcn, pucDev(), ptf);
}

void PylMux::deleteTask(const PortClass*, Task* pta)
{
    delete pta;
}

PylMux::DinoSyncServerFunc::~DinoSyncServerFunc() = default;

void PylMux::DinoSyncServerFunc::noteBoardStep(const Failable* pfa)
{
    if (pfa && pfa->isFail() && !_fBoardFailed) {
        _fBoardFailed = true;
        _iErrBoard = pfa->iErr();
    }
}

bool PylMux::DinoSyncServerFunc::isSuperseded() const
{
    // A client sends its next request only when it is done with this one.
    const Channel* pcn = ptt()->pcn(cnClient());
    return pcn && pcn->peekDown() != nullptr;
}

int PylMux::DinoSyncServerFunc::func(int e)
{
    const int c = cnClient();
    const int d = cnSio();
    // After each board answer: a sync given up ends there, without an answer.
    if ((e == 20 || e == 30) && isSuperseded())
        return setup(-1, 0, fReleasedown(c));
    switch (e) {
    case 0:
        return setup(10, fCanget(c), 0);
    case 10: {
        FEX_ASSERT(KVdepDino100::pDinoSync(pmd(c)->puc()), "ptr", szSrc, 66);
        // The output image; a shorter one counts as zeros.
        unsigned char mpb[4] = {0, 0, 0, 0};
        KVdepYek100::getbuf(reinterpret_cast<char*>(mpb), sizeof mpb, pmd(c)->pug());
        int iVal = mpb[2] * 256 + mpb[1];
        return call(20, new SioWriteFunc(d, 0, iVal));
    }
    case 20:
        noteBoardStep(dynamic_cast<const SioWriteFunc*>(ptt()->ptfRet()));
        return call(30, new SioReadFunc(d, 0));
    case 30:
        return setup(70, fCanput(c), 0);
    case 70: {
        const SioReadFunc* ptf = dynamic_cast<const SioReadFunc*>(ptt()->ptfRet());
        FEX_ASSERT(ptf, "ptf", szSrc, 79);
        noteBoardStep(ptf);
        int r = ptf->iVal();
        KVdepDino100::DinoResp* prp = new (pmu(c)->puc()) KVdepDino100::DinoResp();
        FEX_ASSERT(prp, "prp", szSrc, 84);
        if (_fBoardFailed) {
            prp->eErr(eErrBoard).iErr(static_cast<uint32_t>(_iErrBoard));
        } else {
            const char mpch[4] = {static_cast<char>(r & 0xFF), 0, 0, static_cast<char>((r >> 8) & 0xFF)};
            size_t cPut = KVdepYek100::putbuf(pmu(c)->pup(), mpch, sizeof mpch);
            FEX_ASSERT(cPut == 4, "c==4", szSrc, 94);
        }
        return setup(-1, 0, fSendup(c) + fReleasedown(c));
    }
    }
    FEX_ASSERT(0, "0", szSrc, 97);
    return setup(-1, 0, 0);
}

}  // namespace KVdepDev100
