// Handling of the FIFO lines of a burst and the hand-out of the counts.
#include <ostream>

#include "stdapihix.h"

int StdApiHixBurst::proceed(int iChan, KVdepMoru100::ScanLine& sl)
{
    const char* szFunc = "proceed";
    if (sl.isOverflow())
        return _setStatus(szFunc, Failable("fifo overflow", iChan));
    if (iChan == 0 && sl.isEpoch()) {
        // Epoch marks of channel 0 are the timeout clock: a second one
        // without a hit line between ends the measurement.
        if (_tmEpoch != 0) {
            if (_pos)
                *_pos << std::endl;
            return _setStatus(szFunc, Failable("timeout", 0));
        }
        _tmEpoch += ptc()->fractsPerEpoch();
        if (_tmEpoch < 0)
            return _setStatus(szFunc, Failable("timer overflow", 0));
    }
    // A wrap or first line and a capture line exclude each other; both are
    // hit lines that restart the timeout clock.
    if (sl.isHit() || sl.isEcap()) {
        _tmEpoch = 0;
        if (_pos)
            *_pos << ' ' << sl.cEc();
        if (sl.isEcap())
            pcc(iChan).capt(static_cast<int>(sl.cEc()));
        else
            pcc(iChan).wrap(static_cast<int>(sl.cEc()));
        if (_pos)
            *_pos << ' ' << pcc(iChan);
    }
    if (_pos)
        *_pos << std::endl;
    return 0;
}

int StdApiHixBurst::hix_get_counts(int* pn, int* pm)
{
    if (isFail())
        return -1;
    if (pn)
        *pn = pcc(0).c();
    if (pm)
        *pm = pcc(1).c();
    return _setStatus("hix_get_counts", faOk);
}
