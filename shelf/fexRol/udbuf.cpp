#include "udbuf.h"

#include <climits>
#include <cstring>

#include "fexassert.h"

static const char szSrc[] = "udbuf";

namespace {

// put and get count in int; longer blocks go in pieces of this size.
const std::streamsize cchMaxBlock = INT_MAX;

int blockSize(std::streamsize n)
{
    return static_cast<int>(n < cchMaxBlock ? n : cchMaxBlock);
}

}  // namespace

downbuf::downbuf(std::streambuf* psbDown)
    : _psbDown(psbDown), _pchBuf(new char[cchBuf]), _pchBufLim(_pchBuf + cchBuf)
{
}

downbuf::~downbuf()
{
    delete[] _pchBuf;
}

int downbuf::overflow(int ch)
{
    if (!pbase())
        setp(_pchBuf, _pchBuf);
    int c = static_cast<int>(pptr() - pbase());
    if (c != 0) {
        int cTaken = put(pbase(), c);
        if (cTaken != c) {
            // Keep only what was not taken, so that a later try does not
            // hand the taken bytes on twice.
            if (cTaken > 0 && cTaken < c) {
                std::memmove(_pchBuf, pbase() + cTaken, static_cast<size_t>(c - cTaken));
                setp(_pchBuf, _pchBufLim);
                pbump(c - cTaken);
            }
            return traits_type::eof();
        }
    }
    setp(_pchBuf, _pchBufLim);
    if (!traits_type::eq_int_type(ch, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(ch);
        pbump(1);
    }
    return 0;
}

std::streamsize downbuf::xsputn(const char* pch, std::streamsize n)
{
    if (traits_type::eq_int_type(overflow(traits_type::eof()), traits_type::eof()))
        return 0;
    if (n <= cchMaxBlock)
        return put(pch, static_cast<int>(n));
    std::streamsize cDone = 0;
    while (cDone < n) {
        int c = blockSize(n - cDone);
        int cTaken = put(pch + cDone, c);
        if (cTaken > 0)
            cDone += cTaken;
        if (cTaken != c)
            break;
    }
    return cDone;
}

int downbuf::sync()
{
    if (pbase() && pptr() != pbase()) {
        if (traits_type::eq_int_type(overflow(traits_type::eof()), traits_type::eof()))
            return -1;
    }
    // A flush must reach the downstream buffer also when it had to hand
    // buffered bytes on first.
    return _psbDown ? _psbDown->pubsync() : 0;
}

upbuf::upbuf(std::streambuf* psbUp)
    : _psbUp(psbUp), _pchBuf(new char[cchBuf]), _pchBufLim(_pchBuf + cchBuf)
{
}

upbuf::~upbuf()
{
    delete[] _pchBuf;
}

int upbuf::underflow()
{
    FEX_ASSERT(!gptr() || (gptr() >= egptr()), "!gptr() || (gptr() >= egptr())", szSrc, 104);
    char* pchRead = _pchBufLim - _pchBuf >= 2 ? _pchBuf + 1 : _pchBuf;
    // The byte in front of the new bytes is the last one delivered before, so
    // that it can be put back; without one there is no put-back position.
    char* pchBack = pchRead;
    if (pchRead != _pchBuf && eback() && egptr() > eback()) {
        *_pchBuf = egptr()[-1];
        pchBack = _pchBuf;
    }
    int cSpace = static_cast<int>(_pchBufLim - pchRead);
    int c = get(pchRead, cSpace);
    if (c <= 0) {
        setg(nullptr, nullptr, nullptr);
        return traits_type::eof();
    }
    if (c > cSpace)
        c = cSpace;
    setg(pchBack, pchRead, pchRead + c);
    return traits_type::to_int_type(*pchRead);
}

std::streamsize upbuf::xsgetn(char* pch, std::streamsize n)
{
    // A read of nothing (istream::read with a count of 0) delivers nothing.
    if (n <= 0)
        return 0;
    FEX_ASSERT(pch && n > 0, "pch && n > 0", szSrc, 130);
    std::streamsize cDone = 0;
    if (gptr() && gptr() < egptr()) {
        std::streamsize cAvail = egptr() - gptr();
        cDone = cAvail < n ? cAvail : n;
        std::memcpy(pch, gptr(), static_cast<size_t>(cDone));
        gbump(static_cast<int>(cDone));
    }
    bool fDirect = false;
    while (cDone < n) {
        int cWant = blockSize(n - cDone);
        int c = get(pch + cDone, cWant);
        if (c <= 0)
            break;
        if (c > cWant)
            c = cWant;
        cDone += c;
        fDirect = true;
    }
    if (fDirect && _pchBufLim - _pchBuf >= 2) {
        // The bytes read directly bypassed the get area: keep the last of them
        // as the put-back byte of an empty get area.
        *_pchBuf = pch[cDone - 1];
        setg(_pchBuf, _pchBuf + 1, _pchBuf + 1);
    }
    return cDone;
}
