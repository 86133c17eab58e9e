// The two-FIFO modes: leading and trailing stamps in segments, their line
// loop, and the pulse-width and pulse results.
#include <algorithm>
#include <ostream>

#include "moru.h"
#include "moru_texts.h"
#include "tico_inline.h"

namespace KVdepMoru100 {

ModeDual::ModeDual(u32 cSampRq, const Time& tiTmo, u32 cExtraLE)
    : MoruMode(2, cSampRq, tiTmo), _mpdqSeg{std::deque<Segment>(1), std::deque<Segment>(1)}, _cExtraLE(cExtraLE)
{
}

u32 ModeDual::sizeLE() const
{
    size_t c = dqTimes(LE).size();
    return c < _cExtraLE ? 0 : static_cast<u32>(c - _cExtraLE);
}

u32 ModeDual::sizeTE() const
{
    return static_cast<u32>(dqTimes(TE).size());
}

u32 ModeDual::cSamp() const
{
    return std::min(sizeLE(), sizeTE());
}

bool ModeDual::isDone() const
{
    return _cBlock != 0 && cSamp() >= _cBlock;
}

void ModeDual::init(const TiCore* ptc)
{
    MoruMode::init(ptc);
}

void ModeDual::sample(std::streambuf* psb, int iFifo)
{
    if (!canSample(iFifo))
        return;
    char mpch[8];
    while (isGood() && !isDone() && readLine(psb, mpch)) {
        // A FIFO whose own stamps fill the block takes no more; the other
        // FIFO goes on until it has caught up.
        if (_cBlock != 0 && (iFifo == LE ? sizeLE() : sizeTE()) >= _cBlock)
            break;
        if (isDebug())
            os() << iFifo << " ";
        InlineScanLine sl(mpch, fEdgeRise(iFifo), false, pos());
        if (sl.isOverflow()) {
            setFailed(szFifoOverflow, 0);
            break;
        }
        Timer& tmEpoch = _mptmEpoch[iFifo];
        if (sl.isEpoch()) {
            addEpoch(tmEpoch);
            if (iFifo == LE) {
                if (tmEpoch < 0) {
                    setFailed(szTimerWrap, 0);
                    break;
                }
                if (timeout(tmEpoch, false)) {
                    setFailed(szTimeout, 0);
                    break;
                }
            }
        }
        if (sl.isArm())
            _mpdqSeg[iFifo].emplace_back();
        if (sl.isHit()) {
            if (!hasEdge(sl))
                break;
            Timer tm = stamp(sl, tmEpoch);
            if (iFifo == LE && timeout(tm, true)) {
                setFailed(szTimeout, 0);
                break;
            }
            if (isDebug())
                os() << " " << sl.cCt() << "  " << _ptc->fracts(sl.cCt()) << " " << sl.iOffs() << " "
                     << sl.iFract(sl.iOffs()) << " " << tm;
            dqTimes(iFifo).push_back(tm);
            // A trailing edge before the first leading one belongs to no pulse.
            Segment& dqLE = dqTimes(LE);
            Segment& dqTE = dqTimes(TE);
            while (!dqLE.empty() && !dqTE.empty() && dqTE.front() < dqLE.front()) {
                dqTE.pop_front();
                if (isDebug())
                    os() << " x";
            }
        }
        if (isDebug()) {
            if (isDone())
                os() << " *\n";
            else if (psb->sgetc() == std::streambuf::traits_type::eof())
                os() << " $\n";
            else
                os() << "\n";
        }
    }
}

ModePulseWidth::ModePulseWidth(int eMode, u32 cSampRq, const Time& tiTmo)
    : ModeDual(cSampRq, tiTmo, 0), _eMode(eMode)
{
}

double ModePulseWidth::rdPulseWidth()
{
    if (cSamp() == 0)
        return 0.0;
    Segment& dqLE = dqTimes(LE);
    Segment& dqTE = dqTimes(TE);
    Timer tmLE = dqLE.front();
    Timer tmTE = dqTE.front();
    dqLE.pop_front();
    dqTE.pop_front();
    // The pair comes from the server: a trailing edge that is not after its
    // leading edge gives no width.
    if (!(tmTE > tmLE)) {
        setFailed(szStampOrder, 0);
        return 0.0;
    }
    return _ptc->rdPeriod(tmLE, tmTE, 1);
}

ModePulse::ModePulse(int eMode, u32 cSampRq, const Time& tiTmo)
    : ModeDual(cSampRq, tiTmo, 1), _eMode(eMode), _pardPulse(0.0, 0.0)
{
}

std::pair<double, double> ModePulse::pardPulse()
{
    Segment& dqLE = dqTimes(LE);
    Segment& dqTE = dqTimes(TE);
    if (dqLE.size() <= 1 || dqTE.empty()) {
        _pardPulse = std::make_pair(0.0, 0.0);
        return _pardPulse;
    }
    Timer tiStart = dqLE.front();
    dqLE.pop_front();
    Timer tiMid = dqTE.front();
    dqTE.pop_front();
    Timer tiStop = dqLE.front();
    // The stamps come from the server: a period out of order has no phases.
    if (!(tiStart < tiMid && tiMid < tiStop)) {
        setFailed(szStampOrder, 0);
        _pardPulse = std::make_pair(0.0, 0.0);
        return _pardPulse;
    }
    _pardPulse = std::make_pair(_ptc->rdPeriod(tiStart, tiMid, 1), _ptc->rdPeriod(tiMid, tiStop, 1));
    return _pardPulse;
}

}  // namespace KVdepMoru100
