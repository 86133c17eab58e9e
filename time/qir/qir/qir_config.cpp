// Loading of the FPGA configuration image: the loader that streams it to the
// board, the plexer's three loaders and the directory list of a variable.
#include "qir.h"

#include <cstdio>
#include <cstdlib>

#include "fexassert.h"

namespace KVdepQir100 {

using KVdepYek100::Pmd;
using KVdepYek100::Pmu;
using KVdepYek100::YekBuf;
using KVdepVaq100::reportUnexpected;

static const char szSrc[] = "qir";

namespace {

// The models whose configuration this client loads, ended by 0.
const int mpeMod[] = {0x5316, 0x7302, 0};
// The identity bytes that name the configuration file, in order, ended by -1.
const int mpSel[] = {2, 1, 4, 3, 6, 5, -1};

// A byte the identity does not have reads as 0: nothing is read past its end.
unsigned char byteAt(const std::string& sg, size_t i)
{
    return i < sg.size() ? static_cast<unsigned char>(sg[i]) : 0;
}

}  // namespace

bool QirTaskPlex::isKnownModel(const std::string& sgIdent)
{
    for (const int* pe = mpeMod; *pe; ++pe) {
        // At most two bytes, low byte first, ending after a zero byte of the entry.
        const unsigned char mpb[2] = {static_cast<unsigned char>(*pe & 0xFF),
                                      static_cast<unsigned char>((*pe >> 8) & 0xFF)};
        bool fMatch = true;
        for (int k = 0; k < 2 && fMatch; ++k) {
            fMatch = mpb[k] == byteAt(sgIdent, 3 + k);
            if (mpb[k] == 0)
                break;
        }
        if (fMatch)
            return true;
    }
    return false;
}

std::string QirTaskPlex::sgStem(const std::string& sgIdent, int iVers)
{
    std::string sg;
    char sz[16];
    for (const int* pi = mpSel; *pi >= 0; ++pi) {
        std::snprintf(sz, sizeof sz, "%02x", byteAt(sgIdent, static_cast<size_t>(*pi)));
        sg += sz;
    }
    std::snprintf(sz, sizeof sz, "-%04d", iVers);
    return sg + sz;
}

void QirTaskPlex::checkModel()
{
    if (!isKnownModel(_sgIdent))
        setFailed("incompatible device model", 0, nullptr);
}

Failables& QirTaskPlex::callQirInitData(const char* mpch)
{
    FEX_ASSERT(isVaqOpen(), "isVaqOpen()", szSrc, 212);
    checkModel();
    QirConfigFunc* ptf = new QirConfigFunc(0);
    ptf->initData(mpch);
    return runConfig(ptf);
}

Failables& QirTaskPlex::callQirInitFile(const char* szFile)
{
    FEX_ASSERT(isVaqOpen(), "isVaqOpen()", szSrc, 227);
    checkModel();
    return callQirConfig(szFile);
}

Failables& QirTaskPlex::callQirInitPath(const std::list<std::string>& lisgPath, int iVers)
{
    FEX_ASSERT(isVaqOpen(), "isVaqOpen()", szSrc, 234);
    return callQirConfig(lisgPath, iVers);
}

Failables& QirTaskPlex::callQirConfig(const char* szFile)
{
    QirConfigFunc* ptf = new QirConfigFunc(0);
    ptf->initFile(szFile);
    return runConfig(ptf);
}

Failables& QirTaskPlex::callQirConfig(const std::list<std::string>& lisgPath, int iVers)
{
    if (lisgPath.empty())
        return *this;
    QirConfigFunc* ptf = new QirConfigFunc(0);
    ptf->initPath(lisgPath, sgStem(_sgIdent, iVers).c_str());
    return runConfig(ptf);
}

Failables& QirTaskPlex::runConfig(QirConfigFunc* ptf)
{
    if (ptf->isFail()) {
        setFailed("config init failed", 0, static_cast<const Failable*>(ptf));
        delete ptf;
        return *this;
    }
    std::string sgName = ptf->sgConfig();
    bool fFinished = run(ptf);
    _sgConfig = sgName;
    if (!fFinished) {
        // The device failed during the load: the loader is gone (its file is
        // closed) and the plexer's status says why; a bad connection stays bad.
        set(isBad() ? E_BAD : E_FAIL, "config process failed", 0, static_cast<const Failables*>(this));
        return *this;
    }
    FEX_ASSERT(ptf == ptfRet(), "ptf==ptfRet()", szSrc, 237);
    if (!ptf->isGood())
        setFailed("config process failed", 0, static_cast<const Failable*>(ptf));
    return *this;
}

QirConfigFunc::~QirConfigFunc()
{
    if (_pfb && _pfb->is_open())
        _pfb->close();
}

std::streambuf* QirConfigFunc::psb() const
{
    if (_pfb)
        return _pfb.get();
    return _pgb.get();
}

Failable& QirConfigFunc::checkNotEmpty()
{
    // An image without a byte has no last message to send.
    std::streambuf* p = psb();
    if (!p || p->sgetc() == std::char_traits<char>::eof())
        setFailed("empty image", 0);
    return *this;
}

bool QirConfigFunc::openFile(const std::string& sgPath)
{
    if (!_pfb)
        _pfb.reset(new std::filebuf);
    if (_pfb->is_open())
        _pfb->close();
    return _pfb->open(sgPath, std::ios_base::in | std::ios_base::binary) != nullptr;
}

Failable& QirConfigFunc::initData(const char* mpch)
{
    if (entry())
        return *this;
    _sgConfig = "local-data";
    if (!_pgb) {
        const Dptr* pd = reinterpret_cast<const Dptr*>(mpch);
        std::string sg;
        if (pd && pd->_pch)
            sg.assign(pd->_pch, pd->_s);
        _pgb.reset(new std::stringbuf(sg, std::ios_base::in | std::ios_base::out));
    }
    return checkNotEmpty();
}

Failable& QirConfigFunc::initFile(const char* szProg)
{
    if (entry())
        return *this;
    _sgConfig = szProg ? szProg : "";
    if (!szProg || !openFile(_sgConfig))
        return setFailed("open failed", 0);
    return checkNotEmpty();
}

Failable& QirConfigFunc::initPath(const std::list<std::string>& lisgPath, const char* szProg)
{
    if (entry())
        return *this;
    if (lisgPath.empty())
        return setFailed(szSrc, 103);
    for (const std::string& sgDir : lisgPath) {
        // Each attempt is judged on its own, as a load of that file would be.
        entry();
        _sgConfig = sgDir + "/" + szProg + ".rbf";
        if (openFile(_sgConfig))
            return checkNotEmpty();
        setFailed("open failed", 0);
    }
    return *this;
}

int QirConfigFunc::func(int eState)
{
    int cn = _cnQir;
    switch (eState) {
    case 0:
        return setup(1, fCanput(cn), 0);
    case 1: {
        Pmu pm = pmu(cn);
        std::streambuf* p = psb();
        if (p && p->sgetc() == std::char_traits<char>::eof()) {
            // The source ran dry before its last message (the file shrank
            // after it was opened): nothing more can be sent.
            setFailed("empty image", 0);
            return setup(-1, 0, 0);
        }
        QirCmd* pc = new (pm->puc()) QirCmd();
        YekBuf* pub = pm->pup();
        while (p && pub->canput()) {
            std::streamsize c = p->sgetn(pub->_pch, pub->_pchLimDat - pub->_pch);
            if (c <= 0)
                break;
            pub->_pch += c;
        }
        bool fEnd = !p || p->sgetc() == std::char_traits<char>::eof();
        pc->iTrans(1);
        pc->fLast(fEnd);
        if (!fEnd)
            return setup(1, fCanput(cn), fSendup(cn));
        // Nothing more to read: the file need not stay open until the next exchange.
        if (_pfb)
            _pfb->close();
        return setup(2, fCanget(cn), fSendup(cn));
    }
    case 2: {
        Pmd pmAnswer = pmd(cn);
        if (const QirWrResp* pr = pQirWrResp(pmAnswer->puc())) {
            if (pr->eErr() != 0)
                setFailed("request failed", static_cast<int>(pr->eErr()));
        } else {
            reportUnexpected(*pmAnswer->puc());
            setFailed("unexpected response", pmAnswer->puc()->eType());
        }
        return setup(-1, 0, fReleasedown(cn));
    }
    }
    FEX_ASSERT(0, "0", szSrc, 221);
    return setup(-1, 0, 0);
}

std::list<std::string> getEnv(std::string sgVar, std::string sgPostfix)
{
    std::list<std::string> lisg;
    const char* sz = std::getenv(sgVar.c_str());
    if (!sz)
        return lisg;
    std::string sgVal(sz);
    size_t iStart = 0;
    while (iStart < sgVal.size()) {
        size_t iSemi = sgVal.find(';', iStart);
        size_t iEnd = iSemi == std::string::npos ? sgVal.size() : iSemi;
        lisg.push_back(sgVal.substr(iStart, iEnd - iStart) + "/" + sgPostfix);
        if (iSemi == std::string::npos)
            break;
        iStart = iSemi + 1;
    }
    return lisg;
}

}  // namespace KVdepQir100
