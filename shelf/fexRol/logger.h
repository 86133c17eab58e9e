// A small logging framework: named loggers arranged in a parent hierarchy
// register with one global logging core, which gives each logger its mask
// from a configuration looked up by the logger's path of names, hands out a
// record to fill and writes finished records as "LOG" lines to standard
// error. It is active only once an application installs a core in
// pVovadCore before it creates loggers.
#pragma once

#include <cstdint>

#include "kvexport.h"

namespace KVdepVovad100 {

const int ceMaxAttr = 4;   // attribute slots of a logger
const int ceMaxPath = 16;  // names in a logger's path

union Attr {
    int32_t _i;
    const char* _sz;
};

struct Attrs {
    Attr _mpat[ceMaxAttr];
};

class Logger;
class Core;

// One log record. Texts are cut to 255 characters and always zero-terminated.
class FEXROL_API Record {
public:
    Record* puts(const char* sz);
    Record* printf(const char* szFmt, ...) __attribute__((format(printf, 2, 3)));

    const Logger* _plo;
    int32_t _iLvl;
    char _mpch[256];
};

class FEXROL_API Logger {
public:
    // Takes the core installed now; a named logger registers with it.
    Logger(const char* szId, const Logger* ploPar);
    ~Logger();

    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    const char* szId() const { return _szId; }
    Core* pco() const { return _pco; }
    const Logger* ploPar() const { return _ploPar; }
    int fMask() const { return _fMask; }

    const char* _szId;
    Core* _pco;
    Attrs _ats;
    const Logger* _ploPar;
    int32_t _fMask;
    void* _phd;

private:
    friend class Core;
    // Writes the names from the root down to this logger from ppchPath on,
    // never at or beyond ppchLim, and returns the position after the last
    // name; the deepest names are left out first.
    const char** getIdPath(const char** ppchPath, const char** ppchLim) const;
};

class FEXROL_API Core {
public:
    explicit Core(int iLogDefault = 0);

    // Fills the one shared record and returns it: one record open at a time.
    virtual Record* openRecordLvl(const Logger* plo, int iLvl);
    // Writes the record to standard error as LOG:level:name:text.
    virtual void flushRecord(Record* prc);
    // Registers a new logger: its mask is the configuration of its path.
    virtual void init(Logger* plo);
    virtual void fini(Logger* plo);
    // The mask of a path of names; the base gives the default to every path.
    virtual int getConfig(const char** ppchPath, const char** ppchLim);
    virtual ~Core();

    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    int32_t _iLogDefault;
    Record _rc;
};

// The core that new loggers register with; null at load.
extern FEXROL_API Core* pVovadCore;

}  // namespace KVdepVovad100
