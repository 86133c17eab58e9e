#include "stats.h"

#include <ostream>
#include <string>

void Counter::sample(unsigned n)
{
    if (_fOverflow)
        return;
    if (++_n == 0)
        setOverflow();
    _c += n;
    if (_c < n)
        setOverflow();
}

std::ostream& operator<<(std::ostream& os, const Counter& cnt)
{
    if (cnt.isOverflow())
        return os << "####";
    // Decimal whatever number base the stream is set to.
    os << std::to_string(cnt.sum()) + '/' + std::to_string(cnt.count());
    if (cnt.count() != 0)
        os << '(' << static_cast<double>(cnt.sum()) / cnt.count() << ')';
    return os;
}
