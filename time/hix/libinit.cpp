#include "libinit.h"

#include <ostream>

const char* const szDut = "\\\\.\\ZEDOZ_EVU_0";
const char* const szSim = "\\\\.\\ZEDOZ_EVU_0";
const int cRun = 1;

int LibInitializer::initlib(std::ostream* pos)
{
    _pos = pos;
    for (int i = 0; i < CNT_ELEM; ++i)
        mpta[i].init(i, _pos);
    return 0;
}

int LibInitializer::finilib()
{
    for (int i = CNT_ELEM - 1; i >= 0; --i)
        mpta[i].fini();
    return 0;
}

namespace {

// Built when first reached (from the log set-up), so destroyed after it.
LibInitializer& li()
{
    static LibInitializer s;
    return s;
}

GlobalInitializer& gi()
{
    static GlobalInitializer s;
    return s;
}

}  // namespace

int initlib(std::ostream* pos) { return li().initlib(pos); }
int finilib() { return li().finilib(); }

StdApiHixBurst* pta(int i)
{
    gi();
    return &li().mpta[i];
}

GlobalInitializer::GlobalInitializer() : _pof(nullptr), _pos(nullptr), _plb(nullptr) { initlib(_pos); }

GlobalInitializer::~GlobalInitializer()
{
    finilib();
    delete _pos;
    delete _plb;
    delete _pof;
}
