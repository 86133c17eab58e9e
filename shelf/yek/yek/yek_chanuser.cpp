// The user channel over a transport and the I/O pump.
#include "yek_user.h"

#include "fexassert.h"
#include "yek_ownbufs.h"

namespace KVdepYek100 {

static const char szSrc[] = "yek_user";

YekChanUser::YekChanUser(const YekProto* pup) : YekChannel(pup), _pub(nullptr), _pdb(nullptr)
{
    createOwnBufs(this);
}

YekChanUser::~YekChanUser()
{
    finiQueues();
    finiPools();
}

void YekChanUser::finiPool(Link* pli)
{
    deleteOwnBuf(pli);
}

void YekChanUser::sigGet(int)
{
    setupSend();
    FEX_ASSERT(_pub, "_pub", szSrc, 157);
}

void YekChanUser::setupSend()
{
    if (_pub)
        return;
    _pub = getUpBuf();
    if (_pub)
        armSend();
}

void YekChanUser::sigPut(int)
{
    setupRecv();
    FEX_ASSERT(_pdb, "_pdb", szSrc, 168);
}

void YekChanUser::setupRecv()
{
    if (_pdb)
        return;
    _pdb = allocDownBuf();
    if (_pdb)
        armRecv();
}

Failables& YekChanUser::sigSendDone()
{
    if (!isGood() || !_pub)
        return *this;
    // This order lets the plexer queue its next message from inside the
    // release (an empty up pool refills) while _pub still blocks a nested
    // setupSend; the next message is taken into transfer below.
    releaseUpBuf(0, pub());
    _pub = nullptr;
    if (isGood())
        setupSend();
    return *this;
}

Failables& YekChanUser::sigRecvDone()
{
    if (isGood() && _pdb) {
        putDownBuf(0, pdb());
        _pdb = nullptr;
        setupRecv();
    }
    return *this;
}

Failables& YekChanUser::sigSend()
{
    sigSendTransfer();
    return sigSendDone();
}

Failables& YekChanUser::sigRecv()
{
    sigRecvTransfer();
    return sigRecvDone();
}

int runio(YekChanUser* pucIo, int (*pfHook)(void*), void* pv)
{
    FEX_ASSERT(pucIo, "pucIo", szSrc, 199);
    while (pucIo->isYkuUser()) {
        while (pucIo->isYkuUser()) {
            if (pfHook && pfHook(pv))
                return 1;
            if (pucIo->sigSend().isFail())
                return -1;
        }
        if (pfHook && pfHook(pv))
            return 1;
        if (pucIo->sigRecv().isFail())
            return -1;
    }
    // A channel that failed earlier is a failed pump, not a broken invariant.
    return pucIo->isGood() ? 0 : -1;
}

int runio(YekChanUser* pucIo)
{
    return runio(pucIo, nullptr, nullptr);
}

}  // namespace KVdepYek100
