#include "sim/pulse_program.h"

#include <algorithm>

namespace KVdepSim100 {

std::vector<PulseEntry> pulseEntries(const std::vector<uint16_t>& mpw)
{
    std::vector<PulseEntry> mpent;
    for (size_t i = 0; i + 2 < mpw.size(); i += 3)
        mpent.push_back(PulseEntry{mpw[i] >> 12, mpw[i] & 0x0FFF,
                                   (static_cast<uint32_t>(mpw[i + 1]) << 16) | mpw[i + 2]});
    return mpent;
}

CaptureSchedule::CaptureSchedule(const std::vector<PulseEntry>& mpent)
{
    uint64_t t = 0;
    for (const PulseEntry& ent : mpent) {
        t += ent._uDelay;
        if (ent._fOpc & PULSE_PET)
            _mptFirst.push_back(t);
    }
    _tEnd = t;
    if (mpent.empty() || (mpent[0]._fOpc & PULSE_REC))
        return;
    size_t iLoop = 1;
    while (iLoop < mpent.size() && !(mpent[iLoop]._fOpc & PULSE_REC))
        ++iLoop;
    uint64_t tOff = 0;
    std::vector<uint64_t> mptOffs;
    for (size_t i = iLoop; i < mpent.size(); ++i) {
        tOff += mpent[i]._uDelay;
        if (mpent[i]._fOpc & PULSE_PET)
            mptOffs.push_back(tOff);
    }
    if (tOff > 0 && !mptOffs.empty()) {
        _mptOffs = std::move(mptOffs);
        _tPeriod = tOff;
    }
}

bool CaptureSchedule::time(uint64_t i, uint64_t* pt) const
{
    if (i < _mptFirst.size()) {
        *pt = _mptFirst[i];
        return true;
    }
    if (_mptOffs.empty())
        return false;
    uint64_t j = i - _mptFirst.size();
    uint64_t cRep = j / _mptOffs.size();
    if (cRep > (UINT64_MAX - _tEnd - _tPeriod) / _tPeriod)
        return false;  // beyond any clock
    *pt = _tEnd + cRep * _tPeriod + _mptOffs[j % _mptOffs.size()];
    return true;
}

uint64_t CaptureSchedule::cUpTo(uint64_t t) const
{
    uint64_t c = static_cast<uint64_t>(std::upper_bound(_mptFirst.begin(), _mptFirst.end(), t) - _mptFirst.begin());
    if (t < _tEnd)
        return c;
    for (uint64_t tOff : _mptOffs)
        if (t - _tEnd >= tOff)
            c += (t - _tEnd - tOff) / _tPeriod + 1;
    return c;
}

}  // namespace KVdepSim100
