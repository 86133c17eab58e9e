// The open server step.
#include "dinos.h"

#include <new>
#include <sstream>

#include "fexassert.h"
#include "yekpro_dino.h"

namespace KVdepDino100 {

static const char szSrc[] = "dinos";

DinoOpenServerFunc::~DinoOpenServerFunc() = default;

int DinoOpenServerFunc::func(int e)
{
    const int c = cnClient();
    switch (e) {
    case 0:
        return setup(10, fCanget(c), 0);
    case 10: {
        FEX_ASSERT(pDinoOpen(pmd(c)->puc()), "ptr", szSrc, 38);
        std::stringbuf sbName;
        KVdepYek100::getbuf(&sbName, pmd(c)->pug());
        _ic = _mp.find(sbName.str());
        return setup(70, fCanput(c), 0);
    }
    case 70: {
        DinoOpenResp* pr = new (pmu(c)->puc()) DinoOpenResp();
        if (_ic != _mp.end()) {
            pr->iByte(static_cast<u32>(_ic->second.first));
            pr->fBit(static_cast<u32>(_ic->second.second));
        }
        // The answer goes before the request is released.
        return setup(-1, 0, fSendup(c) + fReleasedown(c));
    }
    }
    FEX_ASSERT(0, "0", szSrc, 56);
    return setup(-1, 0, 0);
}

}  // namespace KVdepDino100
