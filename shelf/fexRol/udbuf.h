// Abstract stream buffers in front of another stream buffer: a downbuf hands
// everything written to it to its put operation, an upbuf takes its input
// from its get operation.
#pragma once

#include <streambuf>

#include "kvexport.h"

class FEXROL_API downbuf : public std::streambuf {
public:
    ~downbuf() override;

    downbuf(const downbuf&) = delete;
    downbuf& operator=(const downbuf&) = delete;

    // Takes c bytes and returns the number taken.
    virtual int put(const char* pch, int c) = 0;

protected:
    static const int cchBuf = 256;

    // The put area is set up by the first write.
    explicit downbuf(std::streambuf* psbDown);

    // Single characters are buffered; blocks go straight to put, after the
    // buffered bytes, so that the order is kept.
    int overflow(int ch) override;
    std::streamsize xsputn(const char* pch, std::streamsize n) override;
    // Hands the buffered bytes on, then synchronises the downstream buffer.
    int sync() override;

    int pubsync() { return sync(); }
    std::streambuf* psbDown() { return _psbDown; }

private:
    std::streambuf* _psbDown;
    char* _pchBuf;
    char* _pchBufLim;
};

class FEXROL_API upbuf : public std::streambuf {
public:
    ~upbuf() override;

    upbuf(const upbuf&) = delete;
    upbuf& operator=(const upbuf&) = delete;

    // Delivers up to c bytes and returns their number; 0 or -1 at the end.
    virtual int get(char* pch, int c) = 0;

protected:
    static const int cchBuf = 257;

    // The get area is set up by the first read.
    explicit upbuf(std::streambuf* psbUp);

    int underflow() override;
    std::streamsize xsgetn(char* pch, std::streamsize n) override;

    // Reads straight from the upstream buffer, for implementations of get.
    std::streamsize upsgetn(char* pch, std::streamsize n) { return _psbUp->sgetn(pch, n); }
    std::streambuf* psbUp() { return _psbUp; }

private:
    std::streambuf* _psbUp;
    char* _pchBuf;
    char* _pchBufLim;
};
