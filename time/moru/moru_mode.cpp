// The mode base: configuration defaults, the time-out window, the checks and
// the line arithmetic that every line loop shares; the seconds conversion.
#include <cmath>
#include <ostream>

#include "moru.h"
#include "moru_texts.h"

namespace KVdepMoru100 {

Time ti(double rd)
{
    if (!(rd >= 0.0))
        return Time(0, 0);
    if (rd >= 4294967296.0)
        return Time(0xFFFFFFFFu, 999999999u);
    double rdSec = std::floor(rd);
    return Time(static_cast<uint32_t>(rdSec), static_cast<uint32_t>(0.5 + (rd - rdSec) * 1000000000.0));
}

MoruMode::MoruMode(int cFifo, u32 cBlock, const Time& tiTmo)
    : DebugLog(nullptr), _cFifo(cFifo), _ptc(nullptr), _tc(eMoruConfig, 0), _cBlock(cBlock), _tmTmo(0), _tmLim(0),
      _mptmEpoch{0, 0}, _tiTmo(tiTmo)
{
    _tc.eEdge(0, 'f');
    _tc.eEdge(1, 'r');
    _tc.cScale(1);
}

MoruMode::~MoruMode() = default;

void MoruMode::init(const TiCore* ptc)
{
    _ptc = ptc;
    // The tick conversion only asserts against times it cannot convert.
    if (!fitsTicks(_tiTmo)) {
        setFailed(szTimeoutRange, static_cast<int>(_tiTmo.tv_sec));
        return;
    }
    _tmTmo = Timer(ticks(_tiTmo, ptc)) * ccFracts(ptc);
}

namespace {

// Sums of time stamps wrap as the hardware's counters do, not as undefined
// signed overflow.
Timer addWrap(Timer a, Timer b) { return static_cast<Timer>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b)); }

}  // namespace

int MoruMode::timeout(Timer tmCur, bool fReset)
{
    if (_tmLim != 0 && tmCur >= _tmLim)
        return 1;
    if (_tmLim == 0 || fReset)
        _tmLim = addWrap(tmCur, _tmTmo);
    return 0;
}

bool MoruMode::canSample(int iFifo)
{
    if (!isGood())
        return false;
    // Without init there is no time core to decode with.
    if (!_ptc) {
        setFailed(szNotConfigured, 0);
        return false;
    }
    // The index comes from the server's answer.
    if (iFifo < 0 || iFifo >= _cFifo) {
        setFailed(szFifoIndex, iFifo);
        return false;
    }
    return true;
}

bool MoruMode::readLine(std::streambuf* psb, char* mpch)
{
    return psb->sgetn(mpch, 8) == 8;
}

void MoruMode::addEpoch(Timer& tmEpoch) const
{
    tmEpoch = addWrap(tmEpoch, _ptc->fractsPerEpoch());
}

bool MoruMode::hasEdge(const ScanLine& sl)
{
    // A valid line's edge index names an edge of its pattern; any other
    // would give no time at all.
    if (sl.isValidOffs())
        return true;
    setFailed(szEdgeIndex, sl.iOffs());
    return false;
}

Timer MoruMode::stamp(const ScanLine& sl, Timer tmEpoch) const
{
    return addWrap(addWrap(tmEpoch, _ptc->fracts(sl.cCt())), sl.iFract(sl.iOffs()));
}

void MoruMode::traceEnd()
{
    if (!isDebug())
        return;
    if (isDone())
        os() << " *\n";
    if (!isGood())
        os() << " X\n";
}

}  // namespace KVdepMoru100
