#include "sim/measuring_fpga.h"

#include <algorithm>

namespace KVdepSim100 {

namespace {

const uint16_t wReset = 0x0001;
const uint16_t mpwTrigger[] = {0x0201, 0x0203};

bool byRelease(const ScriptedLine& a, const ScriptedLine& b) { return a._tRelease < b._tRelease; }

}  // namespace

MeasuringFpga::MeasuringFpga(const HixBench* pbench) : _pbench(pbench) {}

void MeasuringFpga::writePulse(int iUnit, uint16_t w) { _mpmpwPulse[iUnit & 1].push_back(w); }

void MeasuringFpga::writeControl(uint16_t w)
{
    if (w == wReset)
        reset();
    else if (w == mpwTrigger[0] || w == mpwTrigger[1])
        trigger();
}

uint32_t MeasuringFpga::readFill(int iChan)
{
    iChan &= 1;
    if (iChan == 0)
        advance(_pbench->_opt._cStep);
    if (_pbench->_mpFillForced[iChan])
        return *_pbench->_mpFillForced[iChan];
    return static_cast<uint32_t>(std::min<size_t>(_mpfifo[iChan]._lines.size(), UINT32_MAX));
}

uint16_t MeasuringFpga::readData(int iChan)
{
    iChan &= 1;
    if (_pbench->_mpWordForced[iChan])
        return *_pbench->_mpWordForced[iChan];
    Fifo& fifo = _mpfifo[iChan];
    if (fifo._lines.empty()) {
        ++fifo._cUnder;
        return 0xFFFF;
    }
    uint16_t w = fifoWord(fifo._lines.front(), fifo._iWord);
    if (++fifo._iWord == 4) {
        fifo._lines.pop_front();
        fifo._iWord = 0;
    }
    return w;
}

void MeasuringFpga::advance(uint64_t cTicks)
{
    if (!_fRunning)
        return;
    _tNow = cTicks > UINT64_MAX - _tNow ? UINT64_MAX - 1 : _tNow + cTicks;
    generateTo(_tNow);
}

void MeasuringFpga::injectScripted(int iChan, const ScriptedLine& sl)
{
    if (!_fRunning)
        return;
    Fifo& fifo = _mpfifo[iChan & 1];
    // A line whose time has passed goes in at once, ahead of the waiting ones.
    auto it = sl._tRelease < _tNextGen
                  ? fifo._script.begin() + fifo._iScript
                  : std::upper_bound(fifo._script.begin() + fifo._iScript, fifo._script.end(), sl, byRelease);
    ScriptedLine slIn = sl;
    if (slIn._tRelease < _tNextGen)
        slIn._tRelease = _tNow;
    fifo._script.insert(it, slIn);
    generateTo(_tNow);
}

std::vector<FifoLine> MeasuringFpga::lines(int iChan) const
{
    const std::deque<FifoLine>& lines = _mpfifo[iChan & 1]._lines;
    return std::vector<FifoLine>(lines.begin(), lines.end());
}

void MeasuringFpga::reset()
{
    ++_cResets;
    _fRunning = false;
    _tNow = 0;
    _tNextGen = 0;
    _mpmpwPulse[0].clear();
    _mpmpwPulse[1].clear();
    _sched = CaptureSchedule();
    for (Fifo& fifo : _mpfifo) {
        fifo._lines.clear();
        fifo._iWord = 0;
        fifo._iCapt = 0;
        fifo._mWrap = 1;
        fifo._mEpoch = 1;
        fifo._iScript = 0;
        fifo._script.clear();
    }
}

void MeasuringFpga::trigger()
{
    ++_cTriggers;
    _fRunning = true;
    _tNow = 0;
    _tNextGen = 0;
    _sched = CaptureSchedule(pulseEntries(_mpmpwPulse[0]));
    for (int i = 0; i < cChan; ++i) {
        Fifo& fifo = _mpfifo[i];
        fifo._iCapt = 0;
        fifo._mWrap = 1;
        fifo._mEpoch = 1;
        fifo._iScript = 0;
        fifo._script = _pbench->_mpScript[i];
        std::stable_sort(fifo._script.begin(), fifo._script.end(), byRelease);
        fifo._sig = _pbench->_mpSignal[i];
    }
    generateTo(0);
}

MeasuringFpga::Source MeasuringFpga::nextEvent(const Fifo& fifo, uint64_t* pt) const
{
    const FpgaOptions& opt = _pbench->_opt;
    Source src = SRC_NONE;
    uint64_t tBest = 0;
    auto consider = [&](Source s, uint64_t t) {
        if (src == SRC_NONE || t < tBest) {  // equal times keep the earlier source
            src = s;
            tBest = t;
        }
    };
    if (fifo._iScript < fifo._script.size())
        consider(SRC_SCRIPT, fifo._script[fifo._iScript]._tRelease);
    uint64_t t = 0;
    if (opt._fCaptures && _sched.time(fifo._iCapt, &t))
        consider(SRC_CAPTURE, t);
    if (opt._fWraps && fifo._sig.edgeTick(fifo._mWrap * cEventWrap - 1, &t))
        consider(SRC_WRAP, t);
    if (opt._fEpochs && fifo._mEpoch < (UINT64_MAX >> 24))
        consider(SRC_EPOCH, fifo._mEpoch * cTicksPerEpoch);
    *pt = tBest;
    return src;
}

void MeasuringFpga::generateTo(uint64_t t)
{
    const size_t cCapacity = std::max<size_t>(_pbench->_opt._cCapacity, 1);
    for (Fifo& fifo : _mpfifo) {
        for (;;) {
            uint64_t tEv = 0;
            Source src = nextEvent(fifo, &tEv);
            if (src == SRC_NONE || tEv > t)
                break;
            if (fifo._lines.size() >= cCapacity) {
                dropUpTo(fifo, t);
                break;
            }
            FifoLine line{};
            switch (src) {
            case SRC_SCRIPT:
                line = fifo._script[fifo._iScript++]._line;
                break;
            case SRC_CAPTURE:
                line = ecapLine(static_cast<uint32_t>(fifo._sig.cBefore(tEv) % cEventWrap), tEv);
                ++fifo._iCapt;
                break;
            case SRC_WRAP:
                line = wrapLine(tEv);
                ++fifo._mWrap;
                break;
            case SRC_EPOCH:
                line = epochLine(static_cast<uint32_t>(fifo._sig.cBefore(tEv) % cEventWrap));
                ++fifo._mEpoch;
                break;
            case SRC_NONE:
                break;
            }
            fifo._lines.push_back(line);
        }
    }
    _tNextGen = t + 1;
}

// The FIFO is full: every line due up to tick t is lost. Moves each source past
// t at once and marks the overflow on the newest stored line.
void MeasuringFpga::dropUpTo(Fifo& fifo, uint64_t t)
{
    const FpgaOptions& opt = _pbench->_opt;
    uint64_t cLost = 0;
    size_t iScript = static_cast<size_t>(
        std::upper_bound(fifo._script.begin() + fifo._iScript, fifo._script.end(), ScriptedLine{t, {}}, byRelease) -
        fifo._script.begin());
    cLost += iScript - fifo._iScript;
    fifo._iScript = iScript;
    if (opt._fCaptures) {
        uint64_t iCapt = std::max(_sched.cUpTo(t), fifo._iCapt);
        cLost += iCapt - fifo._iCapt;
        fifo._iCapt = iCapt;
    }
    if (opt._fWraps) {
        uint64_t mWrap = std::max(fifo._sig.cBefore(t + 1) / cEventWrap + 1, fifo._mWrap);
        cLost += mWrap - fifo._mWrap;
        fifo._mWrap = mWrap;
    }
    if (opt._fEpochs) {
        uint64_t mEpoch = std::max((t >> 24) + 1, fifo._mEpoch);
        cLost += mEpoch - fifo._mEpoch;
        fifo._mEpoch = mEpoch;
    }
    fifo._cDropped += cLost;
    if (cLost > 0)
        fifo._lines.back()[4] |= FIFO_OFLOW;
}

}  // namespace KVdepSim100
