// The totalizing mode: hit lines count prescaler cycles, arm lines capture
// the running total.
#include <ostream>

#include "moru.h"
#include "moru_texts.h"
#include "tico_inline.h"

namespace KVdepMoru100 {

ModeTotalCount::ModeTotalCount(int eMode, u32 cSampRq, const Time& tiTmo)
    : MoruMode(1, cSampRq, tiTmo), _eMode(eMode), _ctEpoch(0)
{
    _tc.fIgnFirst(0, 1);
}

void ModeTotalCount::init(const TiCore* ptc)
{
    MoruMode::init(ptc);
    _tc.cScale(ptc->_ccScaleMax);
}

bool ModeTotalCount::isDone() const
{
    return _cBlock != 0 && _dqCounts.size() >= _cBlock;
}

u32 ModeTotalCount::cSamp() const
{
    return static_cast<u32>(_dqCounts.size());
}

Counter ModeTotalCount::count()
{
    if (_dqCounts.empty())
        return 0;
    Counter ct = _dqCounts.front();
    _dqCounts.pop_front();
    return ct;
}

void ModeTotalCount::sample(std::streambuf* psb, int iFifo)
{
    // A mode that cannot sample still ends its trace.
    if (!canSample(iFifo)) {
        traceEnd();
        return;
    }
    char mpch[8];
    while (isGood() && !isDone() && readLine(psb, mpch)) {
        InlineScanLine sl(mpch, fEdgeRise(0), false, pos());
        if (sl.isOverflow()) {
            setFailed(szFifoOverflow, 0);
            break;
        }
        // No time-out here: a count may wait for its events as long as it takes.
        if (sl.isEpoch()) {
            addEpoch(_tmEpoch);
            if (_tmEpoch < 0) {
                setFailed(szTimerWrap, 0);
                break;
            }
        }
        if (sl.isHit())
            _ctEpoch += _ptc->_ccScaleMax;
        if (sl.isArm()) {
            Counter ct = _ctEpoch + sl.cEc();
            _dqCounts.push_back(ct);
            if (isDebug())
                os() << " " << sl.cEc() << " " << ct;
        }
        if (isDebug())
            os() << "\n";
    }
    traceEnd();
}

}  // namespace KVdepMoru100
