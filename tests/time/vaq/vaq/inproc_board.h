// An in-process board for the tests of the device and board plexers: a
// plexer on the server end of a local channel pair that answers the client's
// requests at once, from inside the client's send, and a stand-in for the
// plexer's I/O channel that has nothing to transfer (the pair moves every
// message), so the pump returns at once and reports the connection's state.
//
//   vaq_test::InprocBoard board;              // answers VaqInit with its identity
//   vaq_test::InprocRig rig(board, &theVaq_vaq_Proto);
//   KVdepVaq100::VaqTaskPlex plex(rig.puc(), rig.pucIo());
//   plex.callVaqOpen();
//
// Declare the plexer after the rig, so that it goes first. Board protocols
// derive from InprocBoard and override serve().
#pragma once

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "yek_driver.h"
#include "yek_user.h"

namespace vaq_test {

using KVdepYek100::YekChannel;
using KVdepYek100::YekControl;
using KVdepYek100::YekControlBuf;
using KVdepYek100::YekProto;

// A request as the board got it: its control (header included) and data.
struct BoardRequest {
    int eType;
    std::string sgCtrl;
    std::string sgData;

    // The control as its class (the bytes copied into a T).
    template <class T>
    T as() const
    {
        T t;
        std::memcpy(static_cast<void*>(&t), sgCtrl.data(), std::min(sgCtrl.size(), sizeof t));
        return t;
    }
};

// An answer: a copy of a control and its data.
struct BoardReply {
    YekControlBuf ucb;
    std::string sgData;

    static BoardReply of(const YekControl& uc, std::string sgData = "")
    {
        BoardReply r;
        r.ucb = uc;
        r.sgData = std::move(sgData);
        return r;
    }
};

// The plexer's I/O channel in the rig: never has anything in transfer. The
// board makes it bad when its connection breaks.
class IdleIo : public KVdepYek100::YekChanUser {
public:
    explicit IdleIo(const YekProto* pup) : YekChanUser(pup) {}
    Failables& sigSendTransfer() override { return *this; }
    Failables& sigRecvTransfer() override { return *this; }
    void armSend() override {}
    void armRecv() override {}
    void breakConnection(const char* szErr, int iErr) { setBad(szErr, iErr, nullptr); }
};

class InprocBoard : public KVdepYek100::YekPlex {
public:
    // What a hook answers in place of the board: the answers (none: the
    // board stays silent), or nothing to let the board answer.
    using Hook = std::function<std::optional<std::vector<BoardReply>>(const BoardRequest&)>;

    // The identity of the HIX-5316 with serial number 0.
    static const std::string sgHix5316;

    InprocBoard();
    ~InprocBoard() override;

    // The server end of the pair opens here (any port name).
    int openChannel(const char* szPort, YekChannel* pcn) override;
    void closeChannel(int hChan) override;
    // Requests arrive: each is answered at once.
    void sigDown(int iCtx, YekChannel* pcn, int hChan) override;
    // Up buffers are free again: answers that waited for one go out.
    void sigUp(int iCtx, YekChannel* pcn, int hChan) override;

    void setIdentity(std::string sg) { _sgIdent = std::move(sg); }
    const std::string& identity() const { return _sgIdent; }
    void setHook(Hook hook) { _hook = std::move(hook); }
    // The connection breaks when the n-th request from now (1: the next)
    // arrives: that request and every later one get no answer, and the I/O
    // channel becomes bad as a failed get of a board that went away.
    void breakAt(int n) { _cUntilBreak = n; }
    bool isBroken() const { return _fBroken; }
    void setIo(IdleIo* pio) { _pio = pio; }

    // One request as the board takes it, without a channel (for a board
    // behind another transport): logged, then answered as configured.
    std::vector<BoardReply> handle(const BoardRequest& rq);

    const std::vector<BoardRequest>& requests() const { return _mpRequest; }
    std::vector<int> requestTypes() const;
    void clearRequests() { _mpRequest.clear(); }

protected:
    // The board's own answers: VaqInit gets VaqResp 0 with the identity;
    // every other request gets none.
    virtual std::vector<BoardReply> serve(const BoardRequest& rq);

private:
    void flush(int iCtx);

    YekChannel* _pcn = nullptr;
    IdleIo* _pio = nullptr;
    std::string _sgIdent;
    Hook _hook;
    int _cUntilBreak = 0;
    bool _fBroken = false;
    bool _fBusy = false;
    std::deque<BoardReply> _dqReply;
    std::vector<BoardRequest> _mpRequest;
};

// The pair with the board on its server end, and the idle I/O channel.
class InprocRig {
public:
    InprocRig(InprocBoard& board, const YekProto* pup);
    ~InprocRig();

    YekChannel* puc() const { return _pair.pucClient(); }
    IdleIo* pucIo() { return &_io; }

    KVdepYek100::LocalChannelPair _pair;
    IdleIo _io;
    InprocBoard& _board;
};

}  // namespace vaq_test
