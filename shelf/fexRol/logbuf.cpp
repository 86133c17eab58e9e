#include "logbuf.h"

#include <cstring>
#include <ostream>
#include <vector>

#include "fexassert.h"

static const char szSrc[] = "logbuf";

Logbuf::Logbuf(std::streambuf* psbDown, int c)
    : downbuf(psbDown), _cLines(c > 0 ? static_cast<uint32_t>(c) : 0), _prg(nullptr)
{
}

Logbuf::~Logbuf()
{
    sync();
    drain();
}

void Logbuf::logPrefix(std::streambuf*)
{
}

int Logbuf::put(const char* pch, int c)
{
    const char* pchEnd = pch + (c > 0 ? c : 0);
    while (pch < pchEnd) {
        const void* pvNl = std::memchr(pch, '\n', static_cast<size_t>(pchEnd - pch));
        if (!pvNl) {
            _sgCur.append(pch, pchEnd);
            break;
        }
        const char* pchNext = static_cast<const char*>(pvNl) + 1;
        _sgCur.append(pch, pchNext);
        pch = pchNext;
        line(_sgCur);
        _sgCur.clear();
    }
    return c;
}

void Logbuf::drain()
{
    // Bytes still in the put area were written before: they go first.
    overflow(traits_type::eof());
    // The empty line equals no collected line (each ends with a line end), so
    // it is never looked up in the history: it ends what is pending and is
    // then written as a bare prefix.
    if (_prg) {
        if (_prg->isMatched())
            _prg->rewind();
        flushRep();
    }
    record(std::string());
}

int Logbuf::line(const std::string& sgL)
{
    if (_prg) {
        if (_prg->isMatched())
            _prg->rewind();
        if (sgL == *_prg->pCur()) {
            _prg->incMatch();
            return 0;
        }
        flushRep();
        return record(sgL);
    }
    // The newest earlier occurrence starts the block, which runs to the
    // newest line.
    for (Pos p = _dqsgLines.end(); p != _dqsgLines.begin();) {
        --p;
        if (*p == sgL) {
            _rg = Range(p, p + 1, _dqsgLines.end());
            _prg = &_rg;
            return 0;
        }
    }
    return record(sgL);
}

int Logbuf::record(const std::string& sgL)
{
    FEX_ASSERT(!prg(), "!prg()", szSrc, 64);
    remember(sgL);
    return write(sgL);
}

void Logbuf::remember(const std::string& sgL)
{
    if (_cLines == 0)
        return;
    if (_dqsgLines.size() >= _cLines)
        _dqsgLines.pop_front();
    _dqsgLines.push_back(sgL);
}

int Logbuf::write(const std::string& sgL)
{
    std::streambuf* psb = psbDown();
    if (!psb)
        return -1;
    logPrefix(psb);
    std::streamsize c = static_cast<std::streamsize>(sgL.size());
    return psb->sputn(sgL.data(), c) == c ? 0 : -1;
}

int Logbuf::flushRep()
{
    // The lines of an incomplete repeat were suppressed: write them first.
    std::vector<std::string> vsgWritten;
    for (Pos p = _prg->pFirst(); p != _prg->pCur(); ++p) {
        if (write(*p) < 0) {
            // The downstream buffer no longer holds what the history says:
            // give the repetition up and start afresh.
            _dqsgLines.clear();
            _prg = nullptr;
            return -1;
        }
        vsgWritten.push_back(*p);
    }
    uint32_t cRep = _prg->cRep();
    if (cRep != 0) {
        writeNotice(_prg->cLines(), cRep);
        _dqsgLines.clear();
    }
    _prg = nullptr;
    if (cRep == 0) {
        for (const std::string& sg : vsgWritten)
            remember(sg);
    }
    return 0;
}

void Logbuf::writeNotice(uint32_t cLines, uint32_t cRep)
{
    std::streambuf* psb = psbDown();
    if (!psb)
        return;
    std::ostream os(psb);
    logPrefix(psb);
    if (cLines == 1)
        os << "last line";
    else
        os << "last " << cLines << " lines";
    os << " repeated " << cRep << " times" << std::endl;
}
