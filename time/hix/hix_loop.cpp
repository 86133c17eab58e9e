// One polling pass over the board's FIFOs.
#include <sstream>

#include "qir.h"
#include "stdapihix.h"
#include "tico_inline.h"

int StdApiHixBurst::hix_loop()
{
    const char* szFunc = "hix_loop";
    static const int mpr[2] = {14, 15};  // fill counts
    static const int mpf[2] = {6, 7};    // FIFO data
    if (isFail())
        return -1;
    if (!prp())
        return refuseClosed(szFunc);
    int mpc[2] = {0, 0};
    for (int c = 0; c < (isCh2() ? 2 : 1); ++c)
        if (!read(szFunc, mpr[c], &mpc[c]))
            return -1;
    if (_pos) {
        std::ostringstream os;
        os << "count=" << mpc[0] << ' ' << mpc[1] << ' ';
        _logFunc(szFunc, os.str());
    }
    for (int c = 0; c < 2; ++c) {
        // A count that is no number of lines (negative, or more than a FIFO
        // holds) reads what a FIFO can hold at most.
        int cLines = mpc[c] < 0 || mpc[c] > ccFifoLines ? ccFifoLines : mpc[c];
        while (cLines-- != 0 && !pcc(c).isDone()) {
            char line[8];
            for (int j = 0; j < 4; ++j) {
                int w = 0;
                if (!read(szFunc, mpf[c], &w))
                    return -1;
                line[2 * j] = static_cast<char>(w & 0xFF);
                line[2 * j + 1] = static_cast<char>((w >> 8) & 0xFF);
            }
            KVdepMoru100::InlineScanLine sl(line, _fEdgeRise, 0, _pos);
            if (proceed(c, sl) != 0)
                return -1;
        }
    }
    return !pcc(0).isDone() || (isCh2() && !pcc(1).isDone()) ? 1 : 0;
}
