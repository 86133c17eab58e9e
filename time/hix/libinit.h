// The static objects of the burst library: the instance table and the log
// set-up that starts the instances. Both are built at the library's first
// call, so that the protocol objects of the board access (built at load) are
// built before them and destroyed after them whatever the link order.
#pragma once

#include <iosfwd>
#include <string>

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

class LogbufDm;

// The log of the instances, shared by both: on when a log file is found
// (logfile.h), then every line the instances write goes through the
// unit-buffered _pos into the log buffer _plb, which collapses repeats and
// puts the tick count in front, and is appended to the file through _pof.
// The log is looked for once, when this object is built at the library's
// first call (together with the instances, which it starts); it is taken
// down at unload, after both instances have closed their boards.
class GlobalInitializer {
public:
    GlobalInitializer();
    ~GlobalInitializer();
    GlobalInitializer(const GlobalInitializer&) = delete;
    GlobalInitializer& operator=(const GlobalInitializer&) = delete;

    std::ostream* _pof;  // the log file, opened for appending; null when off
    std::ostream* _pos;  // the stream the instances write to; null when off
    LogbufDm* _plb;      // the log buffer between them; null when off

private:
    // Opens the found log file for appending and builds the chain; the log
    // stays off when the file cannot be written.
    void openLog(const std::string& sgPath);
};

int initlib(std::ostream* pos);
int finilib();
// Instance i of the table, without a range check; builds the static objects
// at the first call.
StdApiHixBurst* pta(int i);
