#include "sim/input_signal.h"

#include <algorithm>

namespace KVdepSim100 {

using u128 = unsigned __int128;

InputSignal InputSignal::edges(std::vector<uint64_t> mpt)
{
    InputSignal sig;
    std::sort(mpt.begin(), mpt.end());
    sig._eKind = Kind::List;
    sig._mpt = std::move(mpt);
    return sig;
}

InputSignal InputSignal::periodic(uint64_t num, uint64_t den, uint64_t tPhase)
{
    InputSignal sig;
    if (num == 0 || den == 0)
        return sig;
    sig._eKind = Kind::Periodic;
    sig._num = num;
    sig._den = den;
    sig._tPhase = tPhase;
    return sig;
}

InputSignal InputSignal::hertz(uint64_t hz, uint64_t tPhase) { return periodic(cTicksPerSecond, hz, tPhase); }

InputSignal& InputSignal::limit(uint64_t c)
{
    _cMax = c;
    return *this;
}

uint64_t InputSignal::cBefore(uint64_t t) const
{
    uint64_t c = 0;
    switch (_eKind) {
    case Kind::None:
        return 0;
    case Kind::List:
        c = static_cast<uint64_t>(std::lower_bound(_mpt.begin(), _mpt.end(), t) - _mpt.begin());
        break;
    case Kind::Periodic:
        if (t <= _tPhase)
            return 0;
        // edges k with k * num / den < t - phase: k < (t - phase) * den / num
        c = static_cast<uint64_t>((static_cast<u128>(t - _tPhase) * _den + _num - 1) / _num);
        break;
    }
    return std::min(c, _cMax);
}

bool InputSignal::edgeTick(uint64_t k, uint64_t* pt) const
{
    if (k >= _cMax)
        return false;
    switch (_eKind) {
    case Kind::None:
        return false;
    case Kind::List:
        if (k >= _mpt.size())
            return false;
        *pt = _mpt[k];
        return true;
    case Kind::Periodic:
        *pt = _tPhase + static_cast<uint64_t>(static_cast<u128>(k) * _num / _den);
        return true;
    }
    return false;
}

}  // namespace KVdepSim100
