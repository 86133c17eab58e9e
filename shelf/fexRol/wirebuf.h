// The kernel driver's byte stream under the wire streams: a fixed window on a
// message's wire bytes, in place of the standard stream buffer, which the
// kernel does not have. Reads past the end give -1 and move nothing; a byte
// written at the end is dropped without error.
#pragma once

#include <cstddef>

class Wirebuf {
public:
    Wirebuf(char* pch, size_t c) : _pchBase(pch), _pchCur(pch), _pchLim(pch + c) {}

    // The next byte as 0 to 255, and advance; -1 at the end.
    int sbumpc() { return _pchCur < _pchLim ? static_cast<unsigned char>(*_pchCur++) : -1; }
    // The next byte as 0 to 255 without advancing; -1 at the end.
    int sgetc() const { return _pchCur < _pchLim ? static_cast<unsigned char>(*_pchCur) : -1; }
    // Stores the byte and advances: the byte as 0 to 255, or -1 when it was
    // dropped at the end.
    int sputc(char ch)
    {
        if (_pchCur >= _pchLim)
            return -1;
        *_pchCur++ = ch;
        return static_cast<unsigned char>(ch);
    }

    // The bytes passed so far.
    size_t cDone() const { return static_cast<size_t>(_pchCur - _pchBase); }

    char* _pchBase;
    char* _pchCur;
    char* _pchLim;
};
