// Time values, control headers and control buffers.
#include "yek.h"

#include <cstring>
#ifndef KV_KERNEL
#include <ostream>
#endif

#include "fexassert.h"

namespace KVdepYek100 {

static const char szSrc[] = "yek";

Time operator+(const Time& a, const Time& b)
{
    Time t(a.tv_sec + b.tv_sec, a.tv_nsec + b.tv_nsec);
    if (t.tv_nsec > 999999999u) {
        t.tv_sec += 1;
        t.tv_nsec -= 1000000000u;
    }
    return t;
}

bool operator>=(const Time& a, const Time& b)
{
    return a.tv_sec > b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec >= b.tv_nsec);
}

bool operator==(const Time& a, const Time& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

#ifndef KV_KERNEL
std::ostream& operator<<(std::ostream& os, const Time& ti)
{
    return os << std::dec << ti.tv_sec << ':' << ti.tv_nsec;
}
#endif

xostream& xmarshal(xostream& xo, const Time& ti)
{
    return xo.putInt4(ti.tv_sec).putInt4(ti.tv_nsec);
}

xistream& xunmarsh(xistream& xi, Time& ti)
{
    return xi.getInt4(ti.tv_sec).getInt4(ti.tv_nsec);
}

YekMemStruct YekControl::yk() const
{
    char* pch = reinterpret_cast<char*>(const_cast<YekControl*>(this));
    return YekMemStruct{pch + _size, pch + _size, pch};
}

bool operator==(const YekControl& a, const YekControl& b)
{
    return a._size == b._size && std::memcmp(&a, &b, a._size) == 0;
}

#ifndef KV_KERNEL
std::ostream& operator<<(std::ostream& os, const YekControl& uc)
{
    return os << std::dec << "size=" << uc._size << std::hex << " type=0x" << uc._eType;
}
#endif

xostream& xmarshal(xostream& xo, const YekControl& uc)
{
    return xo.putInt1(uc._eType);
}

xistream& xunmarsh(xistream& xi, YekControl& uc)
{
    return xi.getInt1(uc._eType);
}

YekControlBuf::YekControlBuf() : YekControl(0, sizeof(YekControlBuf))
{
    std::memset(_mpch, 0xA5, sizeof _mpch);
}

YekControlBuf& YekControlBuf::operator=(const YekControl& uc)
{
    FEX_ASSERT(uc._size <= sizeof(*this), "uc._size <= sizeof(*this)", szSrc, 47);
    // A control shorter than its own header would leave half a header behind.
    FEX_ASSERT(uc._size >= sizeof(YekControlStruct), "uc._size >= sizeof(YekControlStruct)", szSrc, 48);
    // The source may be this buffer itself or lie inside it.
    std::memmove(static_cast<void*>(this), &uc, uc._size);
    return *this;
}

YekMemStruct YekControlBuf::ykBuf() const
{
    char* pch = reinterpret_cast<char*>(const_cast<YekControlBuf*>(this));
    return YekMemStruct{pch + cbRoom, pch + cbRoom, pch};
}

}  // namespace KVdepYek100
