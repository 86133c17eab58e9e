#include "wire.h"

#include "fexassert.h"

static const char szSrc[] = "wire";

bool xistream::getRaw(unsigned& iAcc, int iLen)
{
    FEX_ASSERT(iLen >= 1 && iLen <= 4, "iLen >= 1 && iLen <= 4", szSrc, 40);
    iAcc = 0;
    for (int k = 0; k < iLen; ++k) {
        int ch = psb()->sbumpc();
        if (ch == -1)
            return false;
        iAcc = (iAcc << 8) + (static_cast<unsigned>(ch) & 0xFF);
    }
    return true;
}

xistream& xistream::getInt(unsigned& iRet, int iLen)
{
    if (!isGood())
        return *this;
    unsigned iAcc;
    if (!getRaw(iAcc, iLen)) {
        setFailed(szSrc, 59);
        return *this;
    }
    iRet = iAcc;
    return *this;
}

xistream& xistream::getInt(int& iRet, int iLen)
{
    if (!isGood())
        return *this;
    unsigned iAcc;
    if (!getRaw(iAcc, iLen)) {
        setFailed(szSrc, 77);
        return *this;
    }
    iRet = static_cast<int>(iAcc);
    return *this;
}

int xistream::isInAvail()
{
    if (!isGood())
        return 0;
    return psb()->sgetc() != -1 ? 1 : 0;
}

xostream& xostream::putInt(unsigned iP, int iLen)
{
    FEX_ASSERT(iLen >= 1 && iLen <= 4, "iLen >= 1 && iLen <= 4", szSrc, 95);
    if (!isGood())
        return *this;
    iP <<= (4 - iLen) * 8;
    for (int k = 0; k < iLen; ++k) {
        // A sink that cannot take the byte does not fail the stream.
        psb()->sputc(static_cast<char>(iP >> 24));
        iP <<= 8;
    }
    return *this;
}
