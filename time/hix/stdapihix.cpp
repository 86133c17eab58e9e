#include "stdapihix.h"

StdApiHixBurst::StdApiHixBurst()
    : StdApiC(_mppa, mppaT, ccParams), _fSim(0), _pli(nullptr), _pliFreq(nullptr), _fEdgeRise(1), _tmEpoch(0)
{
    mppaT[ceT1] = ParamT{"T1", ceReal, rdTick};
    mppaT[ceT2] = ParamT{"T2", ceReal, rdTick};
    mppaT[ceTrm] = ParamT{"TRM", ceInt, 0.0};
    mppaT[ceCtm] = ParamT{"CTM", ceInt, 0.0};
    mppaT[ceCch] = ParamT{"CCH", ceInt, 0.0};
}

const Failable& StdApiHixBurst::checkParam(int e, const Param& pa)
{
    int n = pa.i();
    bool fBad = false;
    switch (e) {
    case ceTrm: fBad = n != 's' && n != 'b'; break;
    case ceCtm: fBad = n > 1; break;
    case ceCch: fBad = n > 2 || n <= 0; break;
    default: break;
    }
    if (fBad)
        setFailed("bad parameter", n);
    return *this;
}

void StdApiHixBurst::init(int i, std::ostream* pos)
{
    StdApiC::init(i, pos);
    _pliFreq = nullptr;
    _pli = nullptr;
    _fSim = 0;
    _mppa[ceT1] = Param(0.0);
    _mppa[ceT2] = Param(0.0005);
    _mppa[ceTrm] = Param(int('s'));
    _mppa[ceCtm] = Param(1);
    _mppa[ceCch] = Param(1);
}
