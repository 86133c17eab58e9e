#include "tico.h"

#include <cstring>
#include <ostream>

#include "fexassert.h"
#include "tico_inline.h"

namespace KVdepMoru100 {

const TiCore tc2n5 = {16777216u, 12u, 32767u, 30000000.0};

double TiCore::rdPeriod(Timer tmPrev, Timer tmCur, unsigned nCyc) const
{
    if (tmCur == tmPrev)
        return 0.0;
    return rdSecs(tmCur - tmPrev) / nCyc;
}

double TiCore::rdFreq(Timer tmPrev, Timer tmCur, unsigned nCyc) const
{
    return 1.0 / rdPeriod(tmPrev, tmCur, nCyc);
}

unsigned ccFracts(const TiCore* ptc) { return ptc->_ccFracts; }

namespace {

const uint64_t cTicksLimit = uint64_t(1) << 30;
// n * 100000 stays exact below this; every n above it is far past the limit.
const uint64_t cNsExact = UINT64_MAX / 100000;

uint64_t nanoseconds(const KVdepYek100::Time& ti) { return uint64_t(ti.tv_sec) * 1000000000u + ti.tv_nsec; }

}  // namespace

bool fitsTicks(const KVdepYek100::Time& ti)
{
    uint64_t n = nanoseconds(ti);
    return n <= cNsExact && n * 100000 / 3333333 < cTicksLimit;
}

uint32_t ticks(const KVdepYek100::Time& ti, const TiCore*)
{
    uint64_t n = nanoseconds(ti);
    FEX_ASSERT(n <= cNsExact, "0", "tico", 49);
    uint64_t t = n * 100000 / 3333333;
    FEX_ASSERT(t < cTicksLimit, "0", "tico", 49);
    return static_cast<uint32_t>(t);
}

static_assert(sizeof(EdgeList::_mpFracts) == sizeof(Fracts::_mpFracts), "an edge list is copied whole");

Fracts::Fracts(int fCarry, int f0, int fEdgeRise, int fModeFilt)
{
    static_cast<void>(fModeFilt);
    copyEdges(*this, fCarry, f0, fEdgeRise);
}

ScanLine::ScanLine(const char* mpch, int fEdgeRise, int fModeFilt, std::ostream* pos)
    : Fracts(carryOf(mpch), patternOf(mpch), fEdgeRise, fModeFilt), DebugLog(pos), _mpch(mpch)
{
    if (isDebug())
        traceLine(os(), *this);
}

std::ostream& Fracts::print(std::ostream& os, int fCarry, int f0)
{
    for (int i = 2; i >= 0; --i)
        os << (((fCarry >> i) & 1) ? '1' : '0');
    os << '.';
    for (int i = 11; i >= 0; --i)
        os << (((f0 >> i) & 1) ? '1' : '0');
    return os;
}

void traceLine(std::ostream& os, const ScanLine& sl)
{
    debug_showhex(os, sl._mpch, 8, '.');
    os << ' ';
    Fracts::print(os, carryOf(sl._mpch), patternOf(sl._mpch));
    os << ' ';
    if (!sl.isWrap() && !sl.isFirst() && !sl.isEcap() && !sl.isEpoch() && !sl.isArm())
        os << " SCAN";
    if (sl.isEpoch())
        os << " EPOCH";
    if (sl.isOverflow())
        os << " OFLOW";
    if (sl.isEcap())
        os << " ECAP";
    else if (sl.isWrap())
        os << " WRAP";
    else if (sl.isFirst())
        os << " FIRST";
    if (sl.isArm())
        os << " ARM  ";
}

}  // namespace KVdepMoru100
