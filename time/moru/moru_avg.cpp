// The frequency and period mode: prescaler and decimation, the one-FIFO line
// loop, and the intervals between stored stamps.
#include <ostream>

#include "fexassert.h"
#include "moru.h"
#include "moru_texts.h"
#include "tico_inline.h"

namespace KVdepMoru100 {

ModeAvg::ModeAvg(u32 cAverage, u32 cBlock, const Time& tiTmo)
    : MoruMode(1, cBlock, tiTmo), _cScale(cAverage), _cRep(0), _iRep(0)
{
    _tc.cLimit(0, cBlock + 1);
}

void ModeAvg::init(const TiCore* ptc)
{
    MoruMode::init(ptc);
    // The averaging factor is the application's: refused, not asserted.
    if (_cScale == 0) {
        setFailed(szScaleZero, 0);
        return;
    }
    if (_cScale > ptc->_ccScaleMax) {
        _cRep = _cScale / ptc->_ccScaleMax + 1;
        _tc.cScale(_cScale / _cRep);
    } else {
        _tc.cScale(_cScale);
        _cRep = 1;
    }
    if (isDebug())
        os() << "scale: " << _cScale << " " << _cRep << " " << _tc.cScale() << "\n";
    FEX_ASSERT(_tc.cScale() <= this->ptc()->_ccScaleMax, "_tc.cScale() <= ptc()->_ccScaleMax", szSrcMoru, 309);
}

bool ModeAvg::isDone() const
{
    return _cBlock != 0 && _dqTimes.size() > _cBlock;
}

u32 ModeAvg::cMeas() const
{
    return _dqTimes.size() < 2 ? 0 : static_cast<u32>(_dqTimes.size() - 1);
}

void ModeAvg::sample(std::streambuf* psb, int iFifo)
{
    // A mode that cannot sample still ends its trace.
    if (!canSample(iFifo)) {
        traceEnd();
        return;
    }
    char mpch[8];
    while (isGood() && !isDone() && readLine(psb, mpch)) {
        InlineScanLine sl(mpch, fEdgeRise(iFifo), fModeFilt(iFifo), pos());
        if (sl.isOverflow()) {
            setFailed(szFifoOverflow, 0);
            break;
        }
        if (sl.isArm() && !_dqTimes.empty()) {
            setFailed(szArmWithoutClear, 0);
            break;
        }
        if (sl.isEpoch()) {
            addEpoch(_tmEpoch);
            if (_tmEpoch < 0) {
                setFailed(szTimerWrap, 0);
                break;
            }
            if (timeout(_tmEpoch, false)) {
                setFailed(szTimeout, 0);
                break;
            }
        }
        if (sl.isHit()) {
            if (!hasEdge(sl))
                break;
            Timer tm = stamp(sl, _tmEpoch);
            if (timeout(tm, true)) {
                setFailed(szTimeout, 0);
                break;
            }
            if (isDebug())
                os() << " " << sl.cCt() << "  " << _ptc->fracts(sl.cCt()) << " " << sl.iFract(sl.iOffs()) << " "
                     << tm;
            if (_iRep == _cRep)
                _iRep = 0;
            if (_iRep == 0)
                _dqTimes.push_back(tm);
            ++_iRep;
        }
        if (isDebug())
            os() << "\n";
    }
    traceEnd();
}

double ModeAvg::rdFreq()
{
    if (_dqTimes.size() < 2)
        return 0.0;
    Timer tmPrev = _dqTimes.front();
    _dqTimes.pop_front();
    Timer tmCur = _dqTimes.front();
    // Stamps come from the server: an interval that does not go forward has
    // no frequency.
    if (tmCur <= tmPrev) {
        setFailed(szStampOrder, 0);
        return 0.0;
    }
    return _ptc->rdFreq(tmPrev, tmCur, _cRep * _tc.cScale());
}

double ModeAvg::rdPeriod()
{
    double rd = rdFreq();
    return rd != 0.0 ? 1.0 / rd : 0.0;
}

void ModeAvg::clear()
{
    _iRep = 0;
    _dqTimes.clear();
}

}  // namespace KVdepMoru100
