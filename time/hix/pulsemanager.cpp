#include "pulsemanager.h"

#include "qir.h"
#include "stdapihix.h"

int PulseManager::iTicks(double rdT) { return static_cast<int>(rdT / StdApiHixBurst::rdTick); }

int PulseManager::fillPulseFifo(int fOpc, int fChip, int iDelay)
{
    _prp->callQirWrite(iFfPul(), fOpc << 12 | (fChip & 0xFFF));
    _prp->callQirWrite(iFfPul(), (iDelay >> 16) & 0xFFFF);
    _prp->callQirWrite(iFfPul(), iDelay & 0xFFFF);
    return _prp->isFail() ? 1 : 0;
}

int PulseManager::setupDetector(bool fSingle)
{
    const int s = fSingle ? REC : 0;
    const int mpent[][3] = {
        {WAIT + s, 0, 0}, {REC | PET, 0, 0}, {REC | PET, 0, 10}, {REC | PET, 0xF0, 0},
        {REC | PET, 0, 9}, {REC | PET, 0xF0, 6}, {REC | PET, 0, 9},  {REC | PET, 0xF0, 6},
        {REC | PET, 0, 9}, {REC | PET, 0, 10},  {REC, 0, 0},
    };
    int r = 0;
    for (const auto& ent : mpent)
        r |= fillPulseFifo(ent[0], ent[1], ent[2]);
    return r;
}

int PulseManager::setupPulseCapt(double rdT1, double rdT2, bool fSingle)
{
    const int s = fSingle ? REC : 0;
    const int mpent[][3] = {
        {WAIT + s, 0, 0}, {s, 0, iTicks(rdT1)}, {PET + s, 0, 0}, {REC, 0, iTicks(rdT2)}, {REC | PET, 0, 0},
    };
    int r = 0;
    for (const auto& ent : mpent)
        r |= fillPulseFifo(ent[0], ent[1], ent[2]);
    return r;
}
