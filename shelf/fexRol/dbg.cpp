#include "dbg.h"

#include <iomanip>
#include <ostream>

namespace {

// Hexadecimal, right-aligned, '0'-filled and without base prefix whatever the
// caller's stream had; upper case stays the caller's choice. Restores the
// caller's flags and fill on leaving.
class HexSetup {
public:
    explicit HexSetup(std::ostream& os) : _os(os), _flags(os.flags()), _fill(os.fill())
    {
        os.setf(std::ios_base::hex, std::ios_base::basefield);
        os.setf(std::ios_base::right, std::ios_base::adjustfield);
        os.unsetf(std::ios_base::showbase);
        os.fill('0');
    }
    ~HexSetup()
    {
        _os.flags(_flags);
        _os.fill(_fill);
    }
    void byte(char ch) { _os << std::setw(2) << static_cast<unsigned>(static_cast<unsigned char>(ch)); }

private:
    std::ostream& _os;
    std::ios_base::fmtflags _flags;
    char _fill;
};

}  // namespace

void debug_showhex(std::ostream& os, const char* pch, int c, int chDel)
{
    HexSetup hs(os);
    for (int i = 0; i < c; ++i) {
        if (i != 0 && i % 4 == 0)
            os << static_cast<char>(chDel);
        hs.byte(pch[i]);
    }
}

void debug_showhex(std::ostream& os, const void* p, int c, int chDel)
{
    debug_showhex(os, static_cast<const char*>(p), c, chDel);
}

void debug_showbuf(std::ostream& os, const char* pch, int c)
{
    HexSetup hs(os);
    for (int i = 0; i < c; ++i) {
        unsigned char b = static_cast<unsigned char>(pch[i]);
        if (b >= 33 && b <= 126)
            os << ' ' << static_cast<char>(b);
        else
            hs.byte(pch[i]);
    }
}

int addone(int i)
{
    return i + 1;
}
