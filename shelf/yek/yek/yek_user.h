// The user side of channels: the in-process pair, whose ends hand messages
// to each other without copying, and the user channel over a transport with
// its I/O pump.
#pragma once

#include "failable.h"
#include "yek_driver.h"
#include "yekexport.h"

namespace KVdepYek100 {

// One end of an in-process pair. What its driver side sends up arrives as a
// down message at the peer, at once and on the same thread.
class YEK_API YekChanLocal : public YekChannel {
public:
    explicit YekChanLocal(const YekProto* pup);
    ~YekChanLocal() override;

    void finiPool(Link* pli) override;
    // Up messages were queued: they move to the peer, whose plexer is told.
    void sigGet(int iCtx) override;
    // A down buffer came back: messages of the peer that waited for one move.
    void sigPut(int iCtx) override;

    // One direction only; a pair joins both ends.
    void initPeer(YekChanLocal* pucPeer) { _pucPeer = pucPeer; }
    YekChanLocal* pucPeer() const { return _pucPeer; }

    YekChanLocal* _pucPeer;
};

// Moves the messages of the send queue behind those waiting in the send user
// chain, then hands them, oldest first, to the receive queue while the
// receive pool has a free buffer; each one is paid for with a free buffer
// from the receive pool to the send pool. A moved message's cursor is set to
// read what was written. True when anything moved.
YEK_API bool move(ChainRaw* pcnSendQueue, ChainRaw* pcnSendUser, ChainRaw* pcnSendPool, ChainRaw* pcnRecvQueue,
                  ChainRaw* pcnRecvPool);
// The sender's up messages become down messages of the receiver.
YEK_API bool moveUpDown(YekChannel* pucSend, YekChannel* pucRecv);
// The sender's down messages become up messages of the receiver (a relay);
// each keeps its data: the receiver's user side sends as many bytes as it
// carried.
YEK_API bool moveDownUp(YekChannel* pucSend, YekChannel* pucRecv);

// Two joined ends, owned: A (the server end) and B (the client end).
class YEK_API LocalChanPair : public Failable {
public:
    LocalChanPair() : _pucA(nullptr), _pucB(nullptr) {}
    ~LocalChanPair();
    LocalChanPair(const LocalChanPair&) = delete;
    LocalChanPair& operator=(const LocalChanPair&) = delete;

    // Creates and joins the ends (a second init replaces the first pair).
    Failable& init(const Proto* pup);
    // Deletes end B, then end A; may be called more than once.
    void fini();

    YekChanLocal* pucA() const { return _pucA; }
    YekChanLocal* pucB() const { return _pucB; }

    YekChanLocal* _pucA;
    YekChanLocal* _pucB;
};

// A pair whose end A is open on a named port of a server plexer; end B goes
// to the client.
class YEK_API LocalChannelPair : public LocalChanPair {
public:
    LocalChannelPair() : _pux(nullptr), _puxClient(nullptr), _ePort(-1), _ePortClient(-1) {}
    ~LocalChannelPair();

    // A refused port (or no plexer) fails with "Plexer openChannel() failed"
    // and 97; the ends exist all the same.
    Failable& init(Plexer* pux, const char* szPort, const Proto* pup);
    // Closes the ports that were opened, then deletes both ends.
    void fini();

    YekChanLocal* pucClient() const { return pucB(); }

    Plexer* _pux;
    Plexer* _puxClient;
    int32_t _ePort;
    int32_t _ePortClient;
};

// The user side of a channel over a transport that a subclass supplies. One
// up message at a time is in transfer and one down buffer is armed for the
// next receive. The channel owns its buffers.
class YEK_API YekChanUser : public YekChannel, public Failables {
public:
    explicit YekChanUser(const YekProto* pup);
    ~YekChanUser() override;

    void finiPool(Link* pli) override;
    void sigGet(int iCtx) override;
    void sigPut(int iCtx) override;

    // Moves pub() to the transport; records a failure in the status.
    virtual Failables& sigSendTransfer() = 0;
    // Fills pdb() from the transport (control, data, data limit); records a
    // failure in the status.
    virtual Failables& sigRecvTransfer() = 0;
    // A new up message is in transfer / a new down buffer is armed.
    virtual void armSend() = 0;
    virtual void armRecv() = 0;

    void setupSend();
    void setupRecv();
    Failables& sigSendDone();
    Failables& sigRecvDone();
    Failables& sigSend();
    Failables& sigRecv();

    YekMsgBuf* pub() const { return _pub; }
    YekMsgBuf* pdb() const { return _pdb; }
    const YekMsgBuf* pubDebug() const { return _pub; }
    const YekMsgBuf* pdbDebug() const { return _pdb; }
    void clrPub() { _pub = nullptr; }
    void clrPdb() { _pdb = nullptr; }

    YekMsgBuf* _pub;
    YekMsgBuf* _pdb;
};
typedef YekChanUser ChanUser;

// Sends every queued up message, then receives one, while something is in
// transfer. 0: nothing left to send; 1: the hook (asked before every
// transfer) stopped it; -1: a transfer failed or the channel is not good.
YEK_API int runio(YekChanUser* pucIo, int (*pfHook)(void*), void* pv);
YEK_API int runio(YekChanUser* pucIo);

}  // namespace KVdepYek100
