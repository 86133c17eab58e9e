// Messages and their channels, plexers, protocol drivers, boards and the host
// environment. Everything runs on the caller's thread: a signal is a nested
// call, and a plexer may re-enter the channel from inside one.
#pragma once

#include <cstddef>
#include <cstdint>
#ifndef KV_KERNEL
#include <iosfwd>
#endif

#include "list.h"
#include "yek.h"

namespace KVdepYek100 {

// A byte area owned by the caller (a mapped user buffer, for example).
class YEKC_API YekData : public YekMemStruct {
public:
    YekData() : YekMemStruct{nullptr, nullptr, nullptr} {}
    YekData(char* pch, size_t s) : YekMemStruct{pch + s, pch + s, pch} {}
    explicit YekData(const YekMemStruct& m) : YekMemStruct(m) {}

    // Data limit = base + the length m holds, kept inside the area.
    void setSize(const YekMemStruct& m);
    size_t cData() const { return cDataOf(*this); }
    char* pchBase() const { return _pchBase; }
};

// A message: its control structure and the cursor over its data. Both
// accessors are const members that hand out writable pointers, because the
// aliases of both directions are pointers to a constant message.
class YEKC_API YekMsg : public Link {
public:
    YekMsg() : _puc(nullptr), _pub(nullptr) {}

    YekMsg* init(YekControl* puc, YekBuf* pub)
    {
        _puc = puc;
        _pub = pub;
        return this;
    }
    YekControl* puc() const { return _puc; }
    YekBuf* pub() const { return _pub; }
    YekBuf* pug() const { return _pub; }
    YekBuf* pup() const { return _pub; }

    YekControl* _puc;
    YekBuf* _pub;
};
typedef const YekMsg* Pmd;  // a down message, read by the driver side
typedef const YekMsg* Pmu;  // an up message, written by the driver side

// A pooled message: control area and 512-byte data area in one object.
class YEKC_API YekMsgBuf : public YekMsg, public YekBuf, public YekControlBuf {
public:
    YekMsgBuf();

    char _mpchData[SZ_DATA_MAX];
};

#ifndef KV_KERNEL
// The control header, a blank, the cursor's address and a line end.
YEKC_API std::ostream& operator<<(std::ostream& os, YekMsgBuf& mb);
#endif
// The bytes written into pmu go to pud's base; pud's data limit follows.
YEKC_API YekData* copy(YekData* pud, const YekMsgBuf* pmu);
// pud's data goes into the buffer, which then has that many bytes to read.
YEKC_API YekBuf* copy(YekMsgBuf* pum, const YekData* pud);

class YekPlex;

// A channel between a driver side (the attached plexer) and a user side (the
// transport). Its buffers sit in exactly one of eight chains; moves between
// chains signal the other side. The subclass that creates the buffers must
// run finiQueues and finiPools in its destructor.
class YEKC_API YekChannel : public Link {
public:
    explicit YekChannel(const YekProto* pup);
    // The chains assert that they are empty.
    virtual ~YekChannel();

    // Disposes of one pooled buffer at teardown; the base does nothing.
    virtual void finiPool(Link* pl);
    // Up messages are queued for the user side.
    virtual void sigGet(int iCtx) = 0;
    // A down buffer went back to the pool: the user side may receive again.
    virtual void sigPut(int iCtx) = 0;

    void initPoolDown(YekMsgBuf* p);
    void initPoolUp(YekMsgBuf* p);
    void initPlex(YekPlex* pux, int hChan, int cDriverMax);
    void finiPlex();
    void finiQueues();
    void finiPools();

    // User side.
    YekMsgBuf* allocDownBuf();
    void putDownBuf(int iCtx, YekMsgBuf* p);
    YekMsgBuf* getUpBuf();
    void releaseUpBuf(int iCtx, YekMsgBuf* p);

    // Driver side.
    Pmd getDown(int iCtx);
    void releaseDown(int iCtx, Pmd pmd);
    Pmu allocUp(size_t sDataMax);
    Pmu allocUp(size_t sDataMax, Pmd pmd);
    Pmu allocUpForced(size_t sDataMax);
    void putUp(int iCtx, Pmu pmu, bool fFlush);

    // Inspection.
    Pmd pmdDown(int iOffs) const;
    Pmu pmuUp(int iOffs) const;
    Pmd peekDown() const;
    bool isYkuUser() const { return _cnYkuUser.count() != 0; }
    int pollIn() const { return static_cast<int>(_cnYkuQueue.count()); }
    int pollOut() const { return static_cast<int>(_cnYkdPool.count()); }
    const YekProto* pup() const { return _pup; }
    YekPlex* pux() const { return _pux; }
    int hChan() const { return _hChan; }
#ifndef KV_KERNEL
    // "dq=.. dd=.. du=.. dp=..  uq=.. ud=.. uu=.. up=.." in the stream's base.
    std::ostream& printQueues(std::ostream& os) const;
#endif

    static YekMsgBuf* pmbOf(Link* pl) { return static_cast<YekMsgBuf*>(static_cast<YekMsg*>(pl)); }
    static YekMsgBuf* pmbOf(const YekMsg* pm) { return static_cast<YekMsgBuf*>(const_cast<YekMsg*>(pm)); }

    // The moves between two channels (in-process pairs and relays) work on
    // the chains of both.
    friend bool moveUpDown(YekChannel* pucSend, YekChannel* pucRecv);
    friend bool moveDownUp(YekChannel* pucSend, YekChannel* pucRecv);

protected:
    ChainRaw* pcnYkuPool() { return &_cnYkuPool; }
    ChainRaw* pcnYkdPool() { return &_cnYkdPool; }
    ChainRaw* pcnYkdQueue() { return &_cnYkdQueue; }
    ChainRaw* pcnYkdDriver() { return &_cnYkdDriver; }
    ChainRaw* pcnYkdUser() { return &_cnYkdUser; }
    ChainRaw* pcnYkuQueue() { return &_cnYkuQueue; }
    ChainRaw* pcnYkuDriver() { return &_cnYkuDriver; }
    ChainRaw* pcnYkuUser() { return &_cnYkuUser; }

    const YekProto* _pup;
    YekPlex* _pux;
    int _hChan;
    uint32_t _cDriverMax;
    ChainRaw _cnYkuPool;
    ChainRaw _cnYkdPool;
    ChainRaw _cnYkdQueue;
    ChainRaw _cnYkdDriver;
    ChainRaw _cnYkdUser;
    ChainRaw _cnYkuQueue;
    ChainRaw _cnYkuDriver;
    ChainRaw _cnYkuUser;
};
typedef YekChannel Channel;

// The driver side of channels: a named endpoint that receives their signals.
class YEKC_API YekPlex : public Link {
public:
    explicit YekPlex(const char* szName) : _szName(szName) {}
    virtual ~YekPlex();

    // Attaches pcn to a named port: its handle (0 or more) or a negative code.
    virtual int openChannel(const char* szPort, YekChannel* pcn);
    virtual void closeChannel(int hChan);
    // One down message taken from channel hChan.
    virtual int putDown(int iCtx, Pmd pmd, int hChan);
    // Up buffers are free again on channel hChan.
    virtual void backenable(int iCtx, int hChan);
    // Down messages are queued: the base takes one and hands it to putDown.
    virtual void sigDown(int iCtx, YekChannel* pcn, int hChan);
    // The up pool refilled: the base calls backenable.
    virtual void sigUp(int iCtx, YekChannel* pcn, int hChan);

    const char* szName() const { return _szName; }

    const char* _szName;
};
typedef YekPlex Plexer;

class YekCard;

// The protocol driver of a board: a plexer with a list of channels. At most
// one driver of a board is open.
class YEKC_API YekDriver : public YekPlex {
public:
    YekDriver(const char* szName, YekCard* pca) : YekPlex(szName), _pca(pca) {}

    // The protocol of channel iChan.
    virtual const YekProto* pup(int iChan) const = 0;
    virtual int vinit();
    virtual void vfini();
    // An empty text by default; returns pch.
    virtual char* print(char* pch, int cch) const;
    virtual int interrupt(int iCtx) = 0;
    virtual int timer(int iCtx, const Time& now) = 0;

    // Claims the board and starts the driver: -1 when the board has an open
    // driver, else vinit's result (a failed start releases the board again).
    int init();
    // Drains every channel, stops the driver and releases the board.
    void fini();

    // The subclass enters its channels; they must leave before the driver dies.
    void addChannel(YekChannel* pcn) { _cnuc.import(pcn); }
    void startIterChannels(ChainIterator* pit) const { _cnuc.start_iter(pit); }
    YekChannel* iterChannels(ChainIterator* pit) const { return static_cast<YekChannel*>(_cnuc.iterate(pit)); }
    YekCard* pca() const { return _pca; }

    YekCard* _pca;
    ChainRaw _cnuc;
};

class YekTimerSched;

// A board: its drivers, the open one, and the host's timer scheduler.
class YEKC_API YekCard {
public:
    explicit YekCard(YekTimerSched* pts = nullptr) : _pudCur(nullptr), _pts(pts) {}

    // Non-zero when the interrupt was this board's.
    virtual int interrupt(int iCtx) = 0;
    virtual int timer(int iCtx, const Time& now) = 0;
    virtual char* print(char* pch, int cch) const;
    virtual ~YekCard();

    int setDriver(YekDriver* pud);
    int clrDriver(YekDriver* pud);

    // The subclass enters its drivers; they must leave before the board dies.
    void addDriver(YekDriver* pud) { _cnud.import(pud); }
    void startIterDrivers(ChainIterator* pit) const { _cnud.start_iter(pit); }
    YekDriver* iterDrivers(ChainIterator* pit) const { return static_cast<YekDriver*>(_cnud.iterate(pit)); }
    YekDriver* pudCur() const { return _pudCur; }
    YekTimerSched* pts() const { return _pts; }

    ChainRaw _cnud;
    YekDriver* _pudCur;
    YekTimerSched* _pts;
};

class YekChanKern;

// The host's timer: when a timer due ti from now expires.
class YEKC_API YekTimerSched {
public:
    virtual Time tiNext(const Time& ti) = 0;
    virtual ~YekTimerSched();
};

// The host's side of its channels.
class YEKC_API YekMsgSig {
public:
    virtual void sigGet(int iCtx, YekChanKern* pcn) = 0;
    virtual void sigPut(int iCtx, YekChanKern* pcn) = 0;
    virtual ~YekMsgSig();
};

// A host environment; its channel signals do nothing.
class YEKC_API YekEnv : public YekTimerSched, public YekMsgSig {
public:
    Time tiNext(const Time& ti) override = 0;
    void sigGet(int iCtx, YekChanKern* pcn) override;
    void sigPut(int iCtx, YekChanKern* pcn) override;
};

// A channel whose user side is the host. It has no protocol of its own (a
// driver's channel speaks the driver's pup), so pup() is null.
class YEKC_API YekChanKern : public YekChannel {
public:
    explicit YekChanKern(YekMsgSig* pue) : YekChannel(nullptr), _pue(pue), _phEnv(nullptr) {}

    // Forwarded to the signal sink; nothing without one.
    void sigGet(int iCtx) override;
    void sigPut(int iCtx) override;

    YekChanKern& setHandle(void* h)
    {
        _phEnv = h;
        return *this;
    }
    void* getHandle() const { return _phEnv; }
    YekMsgSig* pue() const { return _pue; }

    YekMsgSig* _pue;
    void* _phEnv;
};

}  // namespace KVdepYek100
