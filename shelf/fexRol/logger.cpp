#include "logger.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "fexassert.h"

static const char szSrc[] = "logger";

namespace KVdepVovad100 {

Core* pVovadCore = nullptr;

Core::Core(int iLogDefault) : _iLogDefault(iLogDefault), _rc()
{
}

Core::~Core() = default;

Record* Core::openRecordLvl(const Logger* plo, int iLvl)
{
    _rc._plo = plo;
    _rc._iLvl = iLvl;
    _rc._mpch[0] = 0;
    return &_rc;
}

void Core::flushRecord(Record* prc)
{
    FEX_ASSERT(prc == &_rc, "prc==&_rc", szSrc, 35);
    // Built first: the level is decimal, and a missing name or an
    // unterminated text cannot spoil the line.
    const char* szId = prc->_plo ? prc->_plo->szId() : nullptr;
    std::string sg = "LOG:";
    sg += std::to_string(prc->_iLvl);
    sg += ':';
    sg += szId ? szId : "";
    sg += ':';
    sg.append(prc->_mpch, strnlen(prc->_mpch, sizeof prc->_mpch));
    sg += '\n';
    std::fwrite(sg.data(), 1, sg.size(), stderr);
    std::fflush(stderr);
}

void Core::init(Logger* plo)
{
    const char* mpszPath[ceMaxPath] = {};
    const char** ppchEnd = plo->getIdPath(mpszPath, mpszPath + ceMaxPath);
    plo->_fMask = getConfig(mpszPath, ppchEnd);
    plo->_phd = nullptr;
}

void Core::fini(Logger*)
{
}

int Core::getConfig(const char**, const char**)
{
    return _iLogDefault;
}

Logger::Logger(const char* szId, const Logger* ploPar)
    : _szId(szId), _pco(pVovadCore), _ats(), _ploPar(ploPar), _fMask(0), _phd(nullptr)
{
    if (_szId && _pco)
        _pco->init(this);
}

Logger::~Logger()
{
    // Only a registered logger is known to the core.
    if (_szId && _pco)
        _pco->fini(this);
}

// Loggers along the chain from plo up, each counted once: a chain that
// comes back to one of its loggers ends before it would repeat.
static size_t cChainOf(const Logger* plo)
{
    const Logger* ploSlow = plo;
    const Logger* ploFast = plo;
    while (ploFast && ploFast->_ploPar) {
        ploSlow = ploSlow->_ploPar;
        ploFast = ploFast->_ploPar->_ploPar;
        if (ploSlow == ploFast)
            break;
    }
    size_t c = 0;
    if (!ploFast || !ploFast->_ploPar) {
        for (; plo; plo = plo->_ploPar)
            ++c;
        return c;
    }
    // A loop: the loggers before it, then the loop once round.
    for (ploSlow = plo; ploSlow != ploFast; ploSlow = ploSlow->_ploPar, ploFast = ploFast->_ploPar)
        ++c;
    const Logger* ploLoop = ploSlow;
    do {
        ++c;
        ploSlow = ploSlow->_ploPar;
    } while (ploSlow != ploLoop);
    return c;
}

const char** Logger::getIdPath(const char** ppchPath, const char** ppchLim) const
{
    // Walked without recursion: the chain may be long or loop.
    size_t cChain = cChainOf(this);
    size_t cRoom = ppchPath < ppchLim ? static_cast<size_t>(ppchLim - ppchPath) : 0;
    size_t c = cChain < cRoom ? cChain : cRoom;
    const Logger* plo = this;
    for (size_t i = c; i < cChain; ++i)
        plo = plo->_ploPar;  // the deepest names do not fit
    for (size_t i = c; i > 0; --i, plo = plo->_ploPar)
        ppchPath[i - 1] = plo->_szId;
    return ppchPath + c;
}

Record* Record::puts(const char* sz)
{
    size_t c = sz ? strnlen(sz, sizeof _mpch - 1) : 0;
    std::memcpy(_mpch, sz ? sz : "", c);
    _mpch[c] = 0;
    return this;
}

Record* Record::printf(const char* szFmt, ...)
{
    _mpch[0] = 0;
    if (!szFmt)
        return this;
    va_list ap;
    va_start(ap, szFmt);
    int c = std::vsnprintf(_mpch, sizeof _mpch, szFmt, ap);
    va_end(ap);
    if (c < 0)
        _mpch[0] = 0;
    return this;
}

}  // namespace KVdepVovad100
