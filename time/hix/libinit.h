// The static objects of the burst library: the instance table and the log
// set-up that starts the instances. Both are built at the library's first
// call, so that the protocol objects of the board access (built at load) are
// built before them and destroyed after them whatever the link order.
#pragma once

#include <iosfwd>
#include <streambuf>

#include "stdapihix.h"

class LibInitializer {
public:
    static const int CNT_ELEM = 2;

    LibInitializer() : _pos(nullptr) {}

    static bool bad_index(int i) { return i < 0 || i > CNT_ELEM - 1; }
    int initlib(std::ostream* pos);
    int finilib();

    std::ostream* _pos;
    StdApiHixBurst mpta[CNT_ELEM];
};

// The log of the instances. It stays off (no log file is looked for), as when
// no log file is found; the instances then get no log stream.
class GlobalInitializer {
public:
    GlobalInitializer();
    ~GlobalInitializer();
    GlobalInitializer(const GlobalInitializer&) = delete;
    GlobalInitializer& operator=(const GlobalInitializer&) = delete;

    std::ostream* _pof;     // the log file, opened for appending
    std::ostream* _pos;     // the stream the instances write to
    std::streambuf* _plb;   // the log buffer between them
};

int initlib(std::ostream* pos);
int finilib();
// Instance i of the table, without a range check; builds the static objects
// at the first call.
StdApiHixBurst* pta(int i);
