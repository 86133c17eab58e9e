// Log filter: cuts the text written to it into lines, passes them on to a
// downstream stream buffer and replaces a run of lines that repeats a line or
// a block of lines seen just before by one notice line, for example
// "last line repeated 2 times" or "last 2 lines repeated 3 times".
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "udbuf.h"

class FEXROL_API Logbuf : public downbuf {
public:
    typedef std::deque<std::string> Lines;
    typedef Lines::const_iterator Pos;

    // A pending repetition: a block of the history from pFirst to the newest
    // line, and the block line that the next incoming line must equal.
    class Range {
    public:
        Range() : _cRep(0), _cMatch(0) {}
        Range(Pos pFirst, Pos pCur, Pos pEnd) : _pFirst(pFirst), _pCur(pCur), _pEnd(pEnd), _cRep(0), _cMatch(0) {}

        Pos pFirst() const { return _pFirst; }
        Pos pCur() const { return _pCur; }
        uint32_t cRep() const { return _cRep; }
        uint32_t cLines() const { return _cMatch; }
        bool isMatched() const { return _pCur == _pEnd; }
        void incMatch() { ++_pCur; }
        // One more complete repeat of the block.
        void rewind()
        {
            _cMatch = static_cast<uint32_t>(_pCur - _pFirst);
            ++_cRep;
            _pCur = _pFirst;
        }

    private:
        Pos _pFirst;
        Pos _pCur;
        Pos _pEnd;
        uint32_t _cRep;
        uint32_t _cMatch;
    };

    // c recent lines are remembered; 0 (or less) turns collapsing off.
    Logbuf(std::streambuf* psbDown, int c);
    // Hands buffered text on and drains. Text after the last line end is
    // dropped. A subclass that overrides logPrefix must call drain() in its
    // own destructor: here its prefix is no longer there.
    ~Logbuf() override;

    // Collects text into lines; always takes all c bytes.
    int put(const char* pch, int c) override;
    // Writes a prefix for a line to psb; Logbuf writes none.
    virtual void logPrefix(std::streambuf* psb);

    // Ends a pending repetition: text already buffered is handed on first,
    // then an empty line is processed, which writes the notice of the
    // repetition, if any, and then a bare prefix.
    void drain();

    const Logbuf::Range* prg() const { return _prg; }
    const Lines& lines() const { return _dqsgLines; }

private:
    // Processes one line (its line end included); -1 when the downstream
    // buffer did not take a line, else 0.
    int line(const std::string& sgL);
    int record(const std::string& sgL);
    void remember(const std::string& sgL);
    int write(const std::string& sgL);
    int flushRep();
    void writeNotice(uint32_t cLines, uint32_t cRep);

    uint32_t _cLines;
    Lines _dqsgLines;
    std::string _sgCur;
    Range _rg;
    Range* _prg;
};
