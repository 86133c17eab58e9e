// The abstract board and channel objects: what every board (USB or PCI)
// holds and does about its identity, its slot, its device stack and which
// channels of which protocol driver are open; and what every channel holds
// of the one control request attached to it.
#pragma once

#include <wdm.h>

#include "failable.h"
#include "wm.h"
#include "wmmdl.h"
#include "wmslot.h"
#include "yek.h"
#include "yek_devif.h"

// A 32-bit word that threads share: read with an acquiring load, written
// only with interlocked operations.
class SharedWord {
public:
    explicit SharedWord(LONG v = 0) : _v(v) {}
    LONG get() const { return ReadAcquire(&_v); }
    void set(LONG v) { InterlockedExchange(&_v, v); }
    LONG increment() { return InterlockedIncrement(&_v); }
    LONG decrement() { return InterlockedDecrement(&_v); }
    // The old value; the word becomes its exclusive or with v.
    LONG exclusiveOr(LONG v) { return InterlockedXor(&_v, v); }

private:
    LONG volatile _v;
};

// An in-use counter changed only with interlocked operations.
class Busy {
public:
    void enter() { _c.increment(); }
    void leave() { _c.decrement(); }
    bool isIdle() const { return _c.get() == 0; }

private:
    SharedWord _c;
};

// A position in the card module: a driver and a channel of it. All ones in
// both is no position.
class ChanIter {
public:
    ChanIter() : _iDriver(0xFFFFFFFFu), _iChan(0xFFFFFFFFu) {}
    ChanIter(ULONG iDriver, ULONG iChan) : _iDriver(iDriver), _iChan(iChan) {}

    ULONG iDriver() const { return _iDriver; }
    ULONG iChanOfDriver() const { return _iChan; }
    // The channel's bit in a board's open mask; 0 for a channel that no mask
    // can hold (callers test valid first).
    ULONG bit() const { return _iChan < 32 ? 1u << _iChan : 0; }

    ULONG _iDriver;
    ULONG _iChan;
};

class Chan;

// Holds a board's open/close lock for a scope.
class OpenLock {
public:
    explicit OpenLock(PKMUTEX pm) : _pm(pm) { KeWaitForSingleObject(_pm, Executive, KernelMode, FALSE, nullptr); }
    ~OpenLock() { KeReleaseMutex(_pm, FALSE); }
    OpenLock(const OpenLock&) = delete;
    OpenLock& operator=(const OpenLock&) = delete;

private:
    PKMUTEX _pm;
};

// The board: its status is the Failable base.
class Card : public Failable {
public:
    Card(Wm* pwm, CardSlot* pci, PDEVICE_OBJECT pdo);
    virtual Chan* open(ChanIter* pit) = 0;
    virtual void close(Chan* pcn) = 0;
    // The board's part of the read text, cut to cch bytes with its zero;
    // returns the characters stored.
    virtual int print(char* pch, long cch) = 0;
    virtual NTSTATUS pnpStartDevice(PDEVICE_OBJECT pdo, PIRP pIrp) = 0;
    virtual NTSTATUS pnpStopDevice(PDEVICE_OBJECT pdo, PIRP pIrp) = 0;
    virtual ~Card();
    // The bus lost the device: nothing more is sent to it. A board that
    // keeps requests waiting ends them here.
    virtual void pnpSurpriseRemoval() { setRemoved(); }

    // Positions over the module's drivers and channels.
    bool isEnd(const ChanIter& it) const;
    bool valid(const ChanIter& it) const;
    void first(ChanIter* pit) const;
    void next(ChanIter* pit) const;

    const YekMod* pum() const { return _pwm->_pum; }
    // The protocol of the open driver.
    const KVdepYek100::YekProto* pup() const;
    LONG iDriver() const { return _iDriver; }
    bool isDriver() const { return _iDriver != -1; }

    // Open bookkeeping of a board that keeps it here (the PCI board): 0, or
    // the refusal code.
    int openFirst(const ChanIter& it);
    int openNext(const ChanIter& it);
    void closeAt(const ChanIter& it);

    // A board log line "kqir<slot>: <message>", with the status behind it
    // while the board's status is not good.
    void log(ULONG fClass, const char* szFmt, ...) const;

    void setLower(PDEVICE_OBJECT pdoLower) { _pdoLower = pdoLower; }
    PDEVICE_OBJECT lower() const { return _pdoLower; }
    PDEVICE_OBJECT pdo() const { return _pdo; }
    CardSlot* slot() const { return _pci; }
    LONG iSlot() const { return static_cast<LONG>(_pci - wmCardSlots()); }
    const YekAdapt* pad() const { return _pci->_pad; }
    // Plug and play changes the state and the removed flag while requests
    // and opens read them.
    bool isState(ULONG e) const { return static_cast<ULONG>(_eState.get()) == e; }
    void setState(ULONG e) { _eState.set(static_cast<LONG>(e)); }

    // The bus lost the device: nothing more is sent to it.
    void setRemoved() { _fRemoved.set(1); }
    bool isRemoved() const { return _fRemoved.get() != 0; }

    Wm* _pwm;
    Busy _busy;
    CardSlot* _pci;
    SharedWord _eState;
    PDEVICE_OBJECT _pdo;
    PDEVICE_OBJECT _pdoLower;
    ULONG _fOpen;
    LONG _iDriver;
    SharedWord _fRemoved;
    KMUTEX _mtxOpen;  // one open or close of the board at a time
    // Held by every dispatch routine while it uses the board; the removal
    // waits for them before it destroys the board, and refuses the later
    // ones. It stays in the extension, untouched by the destructor, for the
    // routines that come after the removal.
    IO_REMOVE_LOCK _rml;
};

// The records of a control block, in their order.
enum WmRecord { iRecCd = 0, iRecDd = 1, iRecCu = 2, iRecDu = 3 };

// A channel of a board, carrying at most one control request at a time.
class Chan {
public:
    static const ULONG fDirDown = 1;
    static const ULONG fDirUp = 2;

    Chan(Card* pca, ULONG iDriver, ULONG iChan);
    // Begins the attached request; nonzero when it finished at once (the
    // status is then status()), zero when the board completes it later.
    virtual int start() = 0;

    void open();
    void close();
    // Flips the read toggle and returns its new value; two reads of one
    // handle at once flip it twice.
    UCHAR toggleRead();
    UCHAR fRead() const { return static_cast<UCHAR>(_fRead.get()); }

    int attachIrp(PIRP pIrp);
    PIRP detachIrp(const char* szSrc, int iLine);
    // Good status for the five mappings: a new request starts clean.
    void resetMappings();

    // Takes the caller's mapped block (cb 48 or 96) into the working copy.
    void prepare(ULONG cb);
    bool isThunked() const { return _cbIoc == cbYekIoc32; }
    // A 32-bit caller's block gets the low halves of the working copy.
    void writeBack();
    YekIoc* ioc() { return _pioc; }
    // Sets the data limit of a record to its base plus n, in the working
    // copy and, for a 96-byte block, in the caller's block.
    void setDataLimit(WmRecord iRec, size_t n);

    NTSTATUS status() const { return _iStat; }
    // An acquiring read: the interrupt side logs the request of a channel
    // whose request another thread may be detaching.
    PIRP pIrp() const { return static_cast<PIRP>(ReadPointerAcquire(&_pIrp)); }
    Card* pca() const { return _pca; }
    ULONG iDriver() const { return _iDriver; }
    ULONG iChan() const { return _iChan; }
    WmMdl& mdlIoc() { return _mdlIoc; }
    WmMdl& mdl(WmRecord iRec) { return _mpmdl[iRec]; }
    // The control of a down request, copied once from the caller.
    KVdepYek100::YekControlBuf& controlDown() { return _ucDown; }

    ULONG setDown(bool f) { return setDir(fDirDown, f); }
    ULONG setUp(bool f) { return setDir(fDirUp, f); }
    bool wantsDown() const { return (_fDir & fDirDown) != 0; }
    bool wantsUp() const { return (_fDir & fDirUp) != 0; }

    Busy& busy() { return _busy; }
    bool isIdle() const { return _busy.isIdle(); }

    ULONG _fDir;
    Busy _busy;
    ULONG _uTrace;
    WmMdl _mdlIoc;
    WmMdl _mpmdl[4];
    PVOID volatile _pIrp;
    ULONG _cOpen;
    SharedWord _fRead;
    Card* _pca;
    ULONG _iDriver;
    ULONG _iChan;
    NTSTATUS _iStat;
    YekIoc _ioc64;  // working copy of the block, a 32-bit block widened
    YekIoc* _pioc;
    ULONG _cbIoc;
    KVdepYek100::YekControlBuf _ucDown;

protected:
    // Each board destroys its own channel objects.
    ~Chan() = default;

private:
    ULONG setDir(ULONG f, bool fOn)
    {
        _fDir = fOn ? (_fDir | f) : (_fDir & ~f);
        return fOn ? 1 : 0;
    }
};
