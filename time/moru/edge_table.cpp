#include "edge_table.h"

namespace KVdepMoru100 {

namespace {

constexpr EdgeList risingEdges(bool fHighBefore, unsigned f0)
{
    const int32_t f = Fracts::iInvalid;
    EdgeList el{{f, f, f, f, f, f}, 0, 0};
    bool fPrev = fHighBefore;
    for (int p = 0; p < 12; ++p) {
        bool fCur = (f0 >> (11 - p)) & 1;
        if (!fPrev && fCur)
            el._mpFracts[el._c++] = p;
        fPrev = fCur;
    }
    return el;
}

constexpr std::array<EdgeList, 2 * 4096> risingTable()
{
    std::array<EdgeList, 2 * 4096> a{};
    for (unsigned i = 0; i < a.size(); ++i)
        a[i] = risingEdges(i & 0x1000u, i & 0xFFFu);
    return a;
}

}  // namespace

constexpr std::array<EdgeList, 2 * 4096> aelRising = risingTable();

}  // namespace KVdepMoru100
