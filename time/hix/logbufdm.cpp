#include "logbufdm.h"

#include <cstdio>

#include "kvwindows.h"

LogbufDm::LogbufDm(std::streambuf* psbDown, int cLines) : Logbuf(psbDown, cLines) {}

LogbufDm::~LogbufDm() { drain(); }

void LogbufDm::logPrefix(std::streambuf* psb)
{
    char sz[16];
    int c = std::snprintf(sz, sizeof sz, "%07u ", static_cast<unsigned>(GetTickCount()));
    if (psb && c > 0)
        psb->sputn(sz, c);
}
