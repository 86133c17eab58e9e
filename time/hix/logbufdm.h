// The log buffer of the burst log: a Logbuf keeping a short history, whose
// every line, repeat notice and final drain begin with the milliseconds since
// system start (GetTickCount), at least seven digits with '0' in front, and a
// blank.
#pragma once

#include <streambuf>

#include "logbuf.h"

class LogbufDm : public Logbuf {
public:
    LogbufDm(std::streambuf* psbDown, int cLines);
    // Drains here, while the prefix is still this class's: the repeat notice
    // still pending and the last bare prefix get their tick count.
    ~LogbufDm() override;

    void logPrefix(std::streambuf* psb) override;
};
