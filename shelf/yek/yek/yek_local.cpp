// In-process channel ends, the moves between two channels, and the pairs.
#include "yek_user.h"

#include "fexassert.h"
#include "yek_ownbufs.h"

namespace KVdepYek100 {

static const char szSrc[] = "yek_user";

namespace {

enum class Cursor { readWritten, keepLength };

bool moveMessages(ChainRaw* pcnSendQueue, ChainRaw* pcnSendUser, ChainRaw* pcnSendPool, ChainRaw* pcnRecvQueue,
                  ChainRaw* pcnRecvPool, Cursor eCursor)
{
    pcnSendUser->import(pcnSendQueue);
    bool fMoved = false;
    while (pcnRecvPool->head() && pcnSendUser->head()) {
        YekMsgBuf* pmb = YekChannel::pmbOf(pcnSendUser->head());
        if (eCursor == Cursor::readWritten)
            pmb->setCount(pmb->cDone());
        else
            pmb->_pch = pmb->_pchLimDat;  // cDone() is the message's length
        pcnRecvQueue->import(pmb);
        pcnSendPool->import(pcnRecvPool->head());
        fMoved = true;
    }
    return fMoved;
}

}  // namespace

bool move(ChainRaw* pcnSendQueue, ChainRaw* pcnSendUser, ChainRaw* pcnSendPool, ChainRaw* pcnRecvQueue,
          ChainRaw* pcnRecvPool)
{
    return moveMessages(pcnSendQueue, pcnSendUser, pcnSendPool, pcnRecvQueue, pcnRecvPool, Cursor::readWritten);
}

bool moveUpDown(YekChannel* pucSend, YekChannel* pucRecv)
{
    FEX_ASSERT(pucSend && pucRecv, "pucSend && pucRecv", szSrc, 53);
    return moveMessages(&pucSend->_cnYkuQueue, &pucSend->_cnYkuUser, &pucSend->_cnYkuPool, &pucRecv->_cnYkdQueue,
                        &pucRecv->_cnYkdPool, Cursor::readWritten);
}

bool moveDownUp(YekChannel* pucSend, YekChannel* pucRecv)
{
    FEX_ASSERT(pucSend && pucRecv, "pucSend && pucRecv", szSrc, 61);
    // A relayed down message was filled to be read: its cursor is at the
    // start, so cDone() would send nothing of it.
    return moveMessages(&pucSend->_cnYkdQueue, &pucSend->_cnYkdDriver, &pucSend->_cnYkdPool, &pucRecv->_cnYkuQueue,
                        &pucRecv->_cnYkuPool, Cursor::keepLength);
}

YekChanLocal::YekChanLocal(const YekProto* pup) : YekChannel(pup), _pucPeer(nullptr)
{
    createOwnBufs(this);
}

YekChanLocal::~YekChanLocal()
{
    finiQueues();
    finiPools();
}

void YekChanLocal::finiPool(Link* pli)
{
    deleteOwnBuf(pli);
}

void YekChanLocal::sigGet(int iCtx)
{
    FEX_ASSERT(pucPeer() && pucPeer()->pux(), "pucPeer()->pux()", szSrc, 129);
    YekChanLocal* pucRecv = pucPeer();
    if (moveUpDown(this, pucRecv))
        pucRecv->pux()->sigDown(iCtx, pucRecv, pucRecv->hChan());
}

void YekChanLocal::sigPut(int iCtx)
{
    FEX_ASSERT(pux(), "pux()", szSrc, 135);
    if (pucPeer() && moveUpDown(pucPeer(), this))
        pux()->sigDown(iCtx, this, hChan());
}

LocalChanPair::~LocalChanPair()
{
    fini();
}

Failable& LocalChanPair::init(const Proto* pup)
{
    fini();
    setStat(E_OK, nullptr, 0);
    _pucA = new YekChanLocal(pup);
    _pucB = new YekChanLocal(pup);
    _pucA->initPeer(_pucB);
    _pucB->initPeer(_pucA);
    return *this;
}

void LocalChanPair::fini()
{
    delete _pucB;
    _pucB = nullptr;
    delete _pucA;
    _pucA = nullptr;
}

LocalChannelPair::~LocalChannelPair()
{
    fini();
}

Failable& LocalChannelPair::init(Plexer* pux, const char* szPort, const Proto* pup)
{
    // End A must leave the server's port before it is deleted.
    fini();
    _pux = pux;
    LocalChanPair::init(pup);
    _ePort = pux ? pux->openChannel(szPort, pucA()) : -1;
    if (_ePort < 0)
        setFailed("Plexer openChannel() failed", 97);
    return *this;
}

void LocalChannelPair::fini()
{
    if (_pux && _ePort >= 0)
        _pux->closeChannel(_ePort);
    if (_puxClient && _ePortClient >= 0)
        _puxClient->closeChannel(_ePortClient);
    LocalChanPair::fini();
    _pux = nullptr;
    _puxClient = nullptr;
    _ePort = -1;
    _ePortClient = -1;
}

}  // namespace KVdepYek100
