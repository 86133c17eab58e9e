// The board initializers of the qir channel.
#include "qir.h"

#include "fexassert.h"

namespace KVdepQir100 {

static const char szSrc[] = "qir";

QirLocalTaskInitializer::QirLocalTaskInitializer(const char* szDevice) : _puc(nullptr), _prp(nullptr)
{
    open(szDevice, 265, "QirPlex open failed");
}

QirLocalTaskInitializer::QirLocalTaskInitializer(const char* szDevice, const char** mpszRbfPath)
    : _puc(nullptr), _prp(nullptr)
{
    if (!open(szDevice, 232, "VaqOpen failed"))
        return;
    FEX_ASSERT(mpszRbfPath, "mpszRbfPath", szSrc, 138);
    // Only the first directory is searched; none loads nothing.
    std::list<std::string> lisgPath;
    if (mpszRbfPath[0])
        lisgPath.push_back(mpszRbfPath[0]);
    if (_prp->callQirInitPath(lisgPath, 0).isFail())
        dropPlexer("QirPlex init failed");
}

QirLocalTaskInitializer::~QirLocalTaskInitializer()
{
    delete _prp;
    delete _puc;
}

bool QirLocalTaskInitializer::open(const char* szDevice, int iLine, const char* szOpenFailed)
{
    _puc = new YekChanDevio(&theQir_qir_Proto, szDevice, "0");
    if (!_puc->isGood()) {
        setFailed(szSrc, iLine, static_cast<const Failables*>(_puc));
        return false;
    }
    _prp = new QirTaskPlex(_puc, _puc);
    _prp->callVaqOpen();
    // The loaders need the identity: a board that sent none is not opened.
    if (_prp->isGood() && !_prp->isVaqOpen())
        _prp->setFailed("no identity", 0, nullptr);
    if (_prp->isFail()) {
        dropPlexer(szOpenFailed);
        return false;
    }
    return true;
}

void QirLocalTaskInitializer::dropPlexer(const char* szErr)
{
    setFailed(szErr, 0, static_cast<const Failables*>(_prp));
    delete _prp;
    _prp = nullptr;
}

QirLocalTaskInitializerMem::QirLocalTaskInitializerMem(const char* szDevice, const char*, size_t)
    : QirLocalTaskInitializer(szDevice)
{
}

}  // namespace KVdepQir100
