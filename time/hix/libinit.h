// The static objects of the burst library: the instance table and the log
// set-up that starts the instances, both built at load after the protocol
// objects of the board access and destroyed before them.
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
// The log is looked for once, when this object is built at load (after the
// instances, which it starts); it is taken down at unload, after both
// instances have closed their boards.
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

extern LibInitializer li;
extern GlobalInitializer gi;

int initlib(std::ostream* pos);
int finilib();
// Instance i of the table, without a range check.
StdApiHixBurst* pta(int i);
