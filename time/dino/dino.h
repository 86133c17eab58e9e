// The client side of the dino protocol. A client multiplexer holds named
// channels to dino servers, one task per channel, and an output and an input
// image per channel. An application opens a bit by a path "channel/port" and
// gets a bit handle; a sync sends every channel's output image and stores
// the input image that comes back. DinoPlexSync runs the exchanges to their
// end with the synchronous pump RunIo.
//
// Register every channel before the first exchange: the tasks and images
// are kept by value and a registration may move them. The channels belong to
// the application and must outlive the multiplexer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>
#include <vector>

#include "dinoexport.h"
#include "failable.h"
#include "sm.h"
#include "yek_task.h"
#include "yek_user.h"
#include "yekpro_dino.h"

namespace KVdepYek100 {

class UseIo;

// Pumps user channels on the caller's thread until none has anything left
// to send or to receive: all pending sends of all channels go out before any
// receive, and a channel is received from only after it has sent.
class DINO_API RunIo {
public:
    enum { sIdle = 0, sSend = 1, sRecv = 2 };

    // A channel to pump; its state is the channel state above.
    class DINO_API Chan : public SmM {
    public:
        explicit Chan(YekChanUser* pcu) : SmM(sIdle), _pcu(pcu) {}
        YekChanUser* pcu() const { return _pcu; }

        YekChanUser* _pcu;
    };

    RunIo() : _pui(nullptr), _pcuFailed(nullptr) {}

    void init(UseIo* pui) { _pui = pui; }
    // Adds a channel to pump (once) and returns its index; -1 for null.
    int add(YekChanUser* pcu);
    // The channel of index i, or null.
    YekChanUser* pucIo(int i = 0) const;

    // 0 when every channel is idle; -1 at the first failed transfer, and
    // before any transfer when a channel that failed in an earlier run has
    // something under way (a transfer pending, or an answer awaited): nothing
    // waits on the other channels once such a failure is known. A failed
    // channel with nothing under way (one that never opened) is passed over.
    // A channel whose server waits for the answer to a request sent before
    // (by a pump that failed, say) is received from.
    int run();
    // The channel whose failure ended the last run, or null.
    YekChanUser* pcuFailed() const { return _pcuFailed; }

    UseIo* _pui;
    std::vector<Chan> _vccn;
    YekChanUser* _pcuFailed;
};

// An object that runs on a pump (which belongs to the application).
class DINO_API UseIo {
public:
    explicit UseIo(RunIo* pur) : _pur(pur) {}
    RunIo* pur() const { return _pur; }

    RunIo* _pur;
};

}  // namespace KVdepYek100

namespace KVdepDino100 {

using KVdepYek100::Channel;
using KVdepYek100::Proto;
using KVdepYek100::Task;
using KVdepYek100::TaskFunc;
typedef TaskFunc::Func Func;

// The protocol object of this unit (each unit that includes the header has
// its own; channels are compared by signature only).
static Dino_dino_Proto theDino_dino_Proto;

// One bit: channel index << 24 | image byte << 16 | mask; 0 names none.
typedef int BitHandle;
const BitHandle bhNil = 0;
// The largest channel index a handle holds.
const int iChanMax = 0xFF;
inline BitHandle bitHandle(int iBits, int iIndex, int f)
{
    return static_cast<BitHandle>(static_cast<uint32_t>(iBits) << 24 | static_cast<uint32_t>(iIndex) << 16 |
                                  static_cast<uint32_t>(f));
}

// Named channels, one task each; the channel index is the registration order.
class DINO_API MultiPlex : public KVdepYek100::YekPlex, public KVdepYek100::TaskUser {
public:
    // Every channel registered must speak pup (or a protocol that extends it).
    explicit MultiPlex(const Proto* pup);
    // Detaches every channel.
    ~MultiPlex() override;

    MultiPlex(const MultiPlex&) = delete;
    MultiPlex& operator=(const MultiPlex&) = delete;

    // Registers pcn under the unique name sg and returns its index.
    int init(const std::string& sg, Channel* pcn);
    // The index of the channel named by the path, with the port name in
    // *psgPort; -1 (and *psgPort unchanged) when the channel is not known.
    int findPort(std::string* psgPort, const std::string& sgPath) const;
    // The task of channel i (std::out_of_range for an index outside).
    TaskFunc* pta(int i) { return &_vta.at(static_cast<size_t>(i)); }
    const TaskFunc* pta(int i) const { return &_vta.at(static_cast<size_t>(i)); }
    int cChannels() const { return static_cast<int>(_vta.size()); }

    void sigDown(int iCtx, Channel* pcn, int hChan) override;
    void sigUp(int iCtx, Channel* pcn, int hChan) override;

    std::vector<TaskFunc> _vta;
    const Proto* _pup;
    std::map<std::string, uint32_t> _mpsi;
};

// The images and the two exchanges. Its status holds the outcome of the
// last failed start or the last open collected.
class DINO_API DinoPlex : public MultiPlex, public Failable {
public:
    static constexpr size_t cbImage = 16;

    // The output and input images of one channel, 4 bytes of each in use.
    struct DINO_API Bits {
        Bits();
        unsigned char _mpucOut[cbImage];
        unsigned char _mpucIn[cbImage];
        size_t _sIn;
        size_t _sOut;
    };

    DinoPlex();
    ~DinoPlex() override;

    int init(const std::string& sg, Channel* pcn);

    // Starts the open of the port named by sgPath: its channel index, or -1
    // ("can't find port") when the channel is not registered.
    int startOpen(const std::string& sgPath);
    // The handle of the bit the open of channel i found, or bhNil: the
    // server's failure ("DinoOpenResp" with its error code), a port it
    // does not know, or a channel beyond iChanMax ("invalid bit").
    BitHandle doneOpen(int i);
    // Starts a sync on every channel.
    void startSync();
    // Every channel has finished a sync; 0.
    int doneSync();

    // "o=<output image> i=<input image>" per channel, ", " between, a line end.
    std::ostream& print(std::ostream& os) const;

    // The handle names a byte and bit of a registered channel's images.
    bool isBit(BitHandle bh) const;
    // The bit in the input image as the last sync delivered it.
    bool getBit(BitHandle bh) const;
    // The bit in the output image that the next sync sends; a handle that
    // names no bit changes nothing.
    void setBit(BitHandle bh);
    void clrBit(BitHandle bh);
    void setBit(BitHandle bh, bool f);

    const Bits* pbi(int i) const { return &_vcbi.at(static_cast<size_t>(i)); }

    std::vector<Bits> _vcbi;

protected:
    // Hands ptf to the task of channel i and gives it its first signal.
    void start(int i, Func* ptf);
    bool isAnyRunning() const;
    // Takes the exchanges that cannot finish off their tasks.
    void dropPending();

private:
    const Bits* bitsOf(BitHandle bh) const;
};

// The exchanges run to their end on a pump. The multiplexer must be
// destroyed before the channels and the pump.
class DINO_API DinoPlexSync : public DinoPlex, public KVdepYek100::UseIo {
public:
    explicit DinoPlexSync(KVdepYek100::RunIo* pur);
    ~DinoPlexSync() override;

    // A finished exchange is collected by the call that started it.
    void done(Task* pta) override;

    // The handle of the bit named by sgPort, or bhNil with the reason in the
    // status; a pump that failed, or an exchange that did not finish, is
    // recorded there too and leaves the channel ready for the next exchange.
    BitHandle callOpen(const std::string& sgPort);
    // Sends every output image and takes every input image: 0, or -1 when
    // the pump failed, an exchange did not finish or a server refused (the
    // status says which; the input images stay as they were).
    int callSync();

private:
    int pump();
};

// The open of one port: DinoOpen with the port name, answered by a
// DinoOpenResp; a nonzero eErr fails the step ("DinoOpenResp", eErr).
class DINO_API DinoOpenClientFunc : public Func, public Failable {
public:
    DinoOpenClientFunc(int cnServer, const std::string& sgName)
        : _cnServer(cnServer), _sgName(sgName), _fBit(0), _iByte(0)
    {
    }
    int func(int e) override;
    ~DinoOpenClientFunc() override;

    int cnServer() const { return _cnServer; }
    // Valid when the status is good.
    uint32_t fBit() const { return _fBit; }
    uint32_t iByte() const { return _iByte; }

    int32_t _cnServer;
    std::string _sgName;
    uint32_t _fBit;
    uint32_t _iByte;
};

// The sync of one channel: DinoSync with the output image, answered by a
// DinoResp with the input image; a nonzero eErr fails the step ("DinoResp",
// eErr) and leaves the input image as it was.
class DINO_API DinoSyncClientFunc : public Func, public Failable {
public:
    DinoSyncClientFunc(int cnServer, DinoPlex::Bits* pdp) : _cnServer(cnServer), _pdp(pdp) {}
    int func(int e) override;
    ~DinoSyncClientFunc() override;

    int cnServer() const { return _cnServer; }

    int32_t _cnServer;
    DinoPlex::Bits* _pdp;
};

}  // namespace KVdepDino100
