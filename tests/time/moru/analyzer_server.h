// An analyzer server for the client tests. It works on the moru wire form
// with field tables of its own: each request the client sends is marshalled
// by the channel's protocol, as a transport would, and decoded here by the
// tables; each answer is encoded by the tables and read back through the
// channel's protocol. A marshalling fault of the protocol therefore shows as
// a request the server cannot decode or an answer the client misreads.
//
// Two transports carry it: a plexer on the server end of an in-process pair
// (answers arrive inside the client's send; the client's I/O channel has
// nothing to transfer), and a user channel whose transfers are the server
// (answers arrive through the pump, one receive each).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "moru.h"
#include "yek_driver.h"
#include "yek_user.h"

namespace moru_test {

// A message in the server's terms: its type, its fields in wire order and
// its data.
struct WireMsg {
    int eType = 0;
    std::vector<uint32_t> mpu;
    std::string sgData;
};

// Positions of the fields of a decoded request.
namespace cfg {
enum { cScale = 0, fIgnFirst = 1, cLimit = 3, eFilt = 5, eEdge = 7, eFil = 9, cFields = 23 };
}
namespace smp {
enum { sec = 0, nsec = 1, cFifo = 2, iFifo = 3, cMax = 5 };
}

// The wire widths of the fields of a type in order; null for a type the
// server does not know.
const std::vector<int>* wireWidths(int eType);
// The type byte and the fields; false when the type is unknown or the bytes
// are not exactly what its table asks for.
bool decodeWire(const std::string& sgWire, WireMsg* pm);
std::string encodeWire(const WireMsg& m);

// What the server answers, and what it got.
class AnalyzerScript {
public:
    uint32_t eErrConfig = 0;
    uint32_t mpeErrSample[2] = {0, 0};
    bool fSilent = false;
    int eTypeWrong = 0;       // nonzero: each answer is a bare message of this type
    bool fSwap = false;       // the second FIFO's answer goes first
    uint32_t iFifoOffset = 0;  // added to the FIFO position an answer names
    // The lines of the answers, per FIFO position, one string per sample
    // request in turn; none left: an answer without data.
    std::deque<std::string> mpdqLines[2];
    // Called with each request before it is answered.
    std::function<void(const WireMsg&)> onRequest;

    std::vector<WireMsg> vrq;               // the requests, decoded
    std::vector<std::string> vsgBadWire;    // wire forms that could not be decoded or read back

    std::vector<WireMsg> answer(const std::string& sgWire, const std::string& sgData);
    std::vector<int> requestTypes() const;
};

// The client's I/O channel beside an in-process pair: nothing in transfer.
class IdleIo : public KVdepYek100::YekChanUser {
public:
    IdleIo() : YekChanUser(&KVdepMoru100::theMoru_moru_Proto) {}
    Failables& sigSendTransfer() override { return *this; }
    Failables& sigRecvTransfer() override { return *this; }
    void armSend() override {}
    void armRecv() override {}
};

// The server as a plexer on end A of a pair; the client takes end B.
class InprocAnalyzer : public KVdepYek100::YekPlex, public AnalyzerScript {
public:
    InprocAnalyzer() : YekPlex("analyzer") {}

    int openChannel(const char* szPort, KVdepYek100::YekChannel* pcn) override;
    void closeChannel(int hChan) override;
    void sigDown(int iCtx, KVdepYek100::YekChannel* pcn, int hChan) override;
    void sigUp(int iCtx, KVdepYek100::YekChannel* pcn, int hChan) override;

private:
    void flush(int iCtx);

    KVdepYek100::YekChannel* _pcn = nullptr;
    bool _fBusy = false;
    std::deque<WireMsg> _dqAnswer;
};

// A user channel whose transfers are the server: a send hands it the
// request, a receive delivers its oldest answer. A receive with no answer,
// or the one told to fail, fails as a get on a board that went away.
class WireIo : public KVdepYek100::YekChanUser, public AnalyzerScript {
public:
    WireIo();
    ~WireIo() override;

    Failables& sigSendTransfer() override;
    Failables& sigRecvTransfer() override;
    void armSend() override {}
    void armRecv() override {}

    int cRecvToFail = 0;  // the n-th receive from now fails
    std::deque<WireMsg> _dqAnswer;
};

// A client on one of the transports.
class Rig {
public:
    virtual ~Rig() = default;
    virtual AnalyzerScript& server() = 0;
    virtual KVdepMoru100::MoruPlex& plex() = 0;
    // The client's moru channel.
    virtual KVdepYek100::YekChannel* puc() = 0;
};

std::unique_ptr<Rig> makeLocalRig();
std::unique_ptr<Rig> makeWireRig();

}  // namespace moru_test
