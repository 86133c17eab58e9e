#include "libinit.h"

#include <cstdio>
#include <fstream>
#include <ostream>

#include "logbufdm.h"
#include "logfile.h"

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

// Lines of history of the log buffer: repeats of up to that many lines collapse.
const int cLogLines = 8;

}  // namespace

// Built at load in this order, after the protocol objects of the board
// access (which have a construction priority of their own), and destroyed in
// reverse: the log set-up starts the instances and, at unload, closes them
// before the log goes.
LibInitializer li;
GlobalInitializer gi;

int initlib(std::ostream* pos) { return li.initlib(pos); }
int finilib() { return li.finilib(); }

StdApiHixBurst* pta(int i) { return &li.mpta[i]; }

GlobalInitializer::GlobalInitializer() : _pof(nullptr), _pos(nullptr), _plb(nullptr)
{
    std::string sgPath = findLogFile();
    if (!sgPath.empty())
        openLog(sgPath);
    initlib(_pos);
}

void GlobalInitializer::openLog(const std::string& sgPath)
{
    std::ofstream* pof = new std::ofstream(sgPath, std::ios::out | std::ios::app);
    if (!pof->is_open()) {
        // Found but not writable (a directory of that name, say): every line
        // would be lost, so the log stays off and says so.
        delete pof;
        std::fprintf(stderr, "Warning: can't open %s for appending, logging disabled\n", sgPath.c_str());
        return;
    }
    std::fprintf(stderr, "logging enabled: %s\n", sgPath.c_str());
    _pof = pof;
    _plb = new LogbufDm(pof->rdbuf(), cLogLines);
    _pos = new std::ostream(_plb);
    _pos->setf(std::ios::unitbuf);
}

GlobalInitializer::~GlobalInitializer()
{
    finilib();
    if (!_pos)
        return;
    // The stream first, then the buffer, which passes down what is pending
    // (a repeat notice, the last bare prefix), then the file.
    delete _pos;
    delete _plb;
    delete _pof;
    _pos = nullptr;
    _plb = nullptr;
    _pof = nullptr;
}
