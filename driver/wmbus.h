// The PCI board behind an S5920 bridge and its channels. The board's logic
// is a card object of the message core that the card module's factory makes
// at start; the driver hosts it: it allocates the memory blocks the module
// asks for, calls the card object's interrupt entry from its interrupt
// routine and its timer entry from a periodic timer, and builds one bus
// channel for every channel of every driver of the card object. A channel's
// scheduler moves a request's messages between the caller's buffers and the
// card object's channel under the board's lock (CardBus::synchronize);
// requests that finish later are completed by the deferred routine.
#pragma once

#include <wdm.h>

#include "wmcard.h"
#include "wmslot.h"
#include "yek_c.h"

class CardBus;

// A channel of a PCI board, bound to one channel of one driver of the card
// object. Controls cross in their in-memory form.
class ChanBus : public Chan {
public:
    // Scheduler states.
    static const ULONG S_IDLE = 0;     // no request in progress
    static const ULONG S_PUTDOWN = 1;  // the down message waits for a free down buffer
    static const ULONG S_GETUP = 2;    // the request waits for an up message
    static const ULONG S_DONE = 3;     // finished, its status set; waits to be completed

    ChanBus();
    ChanBus(KVdepYek100::YekDriver* pud, KVdepYek100::YekChannel* pcn, CardBus* pca, ULONG iDriver,
            ULONG iChan);
    ~ChanBus() = default;

    // Begins the attached request under the board's lock; nonzero when it
    // finished at once.
    int start() override;
    // One step of the state machine; iCtx goes with the moves it makes.
    void proceed(int iCtx);
    // Sets the completion status; a request in progress becomes S_DONE.
    void finish(NTSTATUS st);

    bool isState(ULONG e) const { return _eChanState == e; }
    void setState(ULONG e) { _eChanState = e; }
    bool isDone() const { return isState(S_DONE); }
    bool isWaiting() const { return isState(S_PUTDOWN) || isState(S_GETUP); }
    // The card object has a channel for this entry.
    bool isBound() const { return _pChannel != nullptr; }
    // The entry's board and position, given once when the board is built.
    void place(CardBus* pca, ULONG iDriver, ULONG iChan);
    // The driver and channel of the current card object (none: null); the
    // board's lock is held and no request is in progress on the entry.
    void bind(KVdepYek100::YekDriver* pud, KVdepYek100::YekChannel* pcn);
    KVdepYek100::YekDriver* pDriver() const { return _pDriver; }
    CardBus* pcb() const;

    // Synchronized routines (the board's lock is held).
    static BOOLEAN syncStart(PVOID pvChan);
    static BOOLEAN syncDone(PVOID pvChan);
    static BOOLEAN syncCancel(PVOID pvChan);
    // The cancel routine of a request that waits.
    static VOID cancelIrp(PDEVICE_OBJECT DeviceObject, PIRP Irp);

    // A finished request back to S_IDLE without its cancel routine: true when
    // the caller is to complete it. Unless the caller is the cancel routine,
    // a request whose cancel routine the I/O manager has taken stays S_DONE
    // for that routine to complete.
    BOOLEAN done(bool fCancelRoutine);

    ULONG _eChanState;
    KVdepYek100::YekDriver* _pDriver;
    KVdepYek100::YekChannel* _pChannel;

private:
    KVdepYek100::YekChanKern* kern() const { return static_cast<KVdepYek100::YekChanKern*>(_pChannel); }
    void putDown(int iCtx);
    void getUp(int iCtx);
};

// A port region of the board: the base (a port number; accesses use its low
// 16 bits), the length, and the adapter's region it matched. All zero when
// no resource matched.
struct IoRegion {
    ULONG64 _uBase;
    ULONG _cb;
    const RegionDesc* _prd;
};

// The interrupt resource of a start.
struct IntrResource {
    bool _fFound;
    KIRQL _uLevel;
    ULONG _uVector;
    KAFFINITY _uAffinity;
    KINTERRUPT_MODE _eMode;
    BOOLEAN _fShared;
};

class CardBus : public Card {
public:
    static const ULONG cDriverMax = 4;  // drivers of a card object the board serves
    static const ULONG cChanMax = 4;    // channels of each
    static const int cChanBus = static_cast<int>(cDriverMax * cChanMax);
    static const int cMemMax = 64;      // memory blocks a module may ask for
    static const ULONG eStopped = 0;    // board states (Card::_eState)
    static const ULONG eStarted = 1;
    // The contexts of the card object's entries.
    static const int iCtxInterrupt = 666;
    static const int iCtxTimer = 333;

    CardBus(Wm* pwm, CardSlot* pci, PDEVICE_OBJECT pdo);
    ~CardBus() override;

    Chan* open(ChanIter* pit) override;
    void close(Chan* pcn) override;
    int print(char* pch, long cch) override;
    NTSTATUS pnpStartDevice(PDEVICE_OBJECT pdo, PIRP pIrp) override;
    NTSTATUS pnpStopDevice(PDEVICE_OBJECT pdo, PIRP pIrp) override;
    void pnpSurpriseRemoval() override;

    // The interrupt routine, the timer's deferred routine and one timer step.
    static BOOLEAN intr(PKINTERRUPT pInterrupt, PVOID pvBoard);
    static VOID timerDpc(PKDPC pDpc, PVOID pvBoard, PVOID, PVOID);
    static BOOLEAN timer(PVOID pvBoard);

    // The card object's channels for each entry, null where it has none.
    struct ChanBinding;
    // Makes the card object and collects its channels: true when it can run.
    // A channel past the board's table fails it. Nothing is bound yet.
    bool createCard(ChanBinding* pbd);
    void startTimer();
    // Cancels the timer and its queued call, and waits for a call running.
    void stopTimer();
    bool isAnyDone() const;
    // The bus channel at the position, and the position advanced; null at
    // the end. Positions past the board's table are passed over.
    ChanBus* nextChan(ChanIter* pit);
    // The bus channel of a position, null past the board's table.
    ChanBus* chanAt(const ChanIter& it);
    // Runs the routine under the board's lock (see _slBoard).
    BOOLEAN synchronize(PKSYNCHRONIZE_ROUTINE pfn, PVOID pv);

    // Interrupts and timer steps so far; the read text shows them while
    // they run.
    ULONG cIntr() const { return static_cast<ULONG>(_cIntr.get()); }
    ULONG cTimer() const { return static_cast<ULONG>(_cTimer.get()); }

    IoRegion _ioRegs;
    KDPC _dpcTimer;
    KTIMER _timer;
    YekMemInfo _mpMem[cMemMax];
    int _cMem;
    KVdepYek100::YekCard* _pCard;
    ChanBus _mpChan[cChanBus];

private:
    NTSTATUS startResources(PCM_RESOURCE_LIST prl);
    // The card object's channels into the binding, each entry with the
    // channel of its position; false when one is past the board's table.
    bool takeChannels(ChanBinding* pbd);
    // Binds every entry to its channel of the binding and gives each channel
    // its entry as host handle, in one step under the board's lock.
    void bindChannels(ChanBinding* pbd);
    static BOOLEAN syncBindChannels(PVOID pvBinding);
    void takeResource(const CM_PARTIAL_RESOURCE_DESCRIPTOR& prd, IoRegion* pOper, IntrResource* pIntr);
    // Completes the requests that a synchronized end took back.
    void completeEnded();
    // Timer, requests, deferred call and interrupt of a started board.
    void stopRunning(NTSTATUS stEnd);
    // The connected interrupt's lock joins the board's, and its routine
    // calls the card object.
    void attachInterrupt(PKINTERRUPT pi);
    // The board stops under its lock: no request begins and the interrupt
    // routine leaves the card object; the waiting requests end with _stEnd.
    // Returns the interrupt object to disconnect.
    PKINTERRUPT detachInterrupt();
    int initDriver(KVdepYek100::YekDriver* pud);
    void finiDriver(KVdepYek100::YekDriver* pud);
    void endLocked();
    static BOOLEAN syncRemoved(PVOID pvBoard);
    static BOOLEAN syncStop(PVOID pvBoard);
    static BOOLEAN syncRun(PVOID pvBoard);
    static BOOLEAN syncStarted(PVOID pvBoard);

    // The board's lock. Every synchronized step (a channel's start, done and
    // cancel, the timer step, binding, the protocol driver's start and stop,
    // stop and removal) runs under it and, while an interrupt is attached,
    // under the interrupt's spin lock inside it. The interrupt routine holds
    // the interrupt's lock only, and leaves the card object alone unless the
    // board runs. The board's lock keeps the interrupt object from being
    // disconnected under a caller.
    KSPIN_LOCK _slBoard;
    PKINTERRUPT _pInterrupt;  // attached; changed under the board's lock
    SharedWord _cIntr;
    SharedWord _cTimer;
    ULONG _fRunning;  // set and cleared under the interrupt's lock
    ULONG _fEnded;    // channels whose requests endLocked took back
    NTSTATUS _stEnd;
};

// The host callbacks every card object receives.
extern const YekEnvC envWmBus;
// The time since system start at the tick count plus cTicks.
void tickTime(YekTimespec* pts, int cTicks);

// The extension size of a PCI board.
ULONG cbCardBus();
// Builds the PCI board in the extension.
Card* newCardBus(void* pvExtension, Wm* pwm, CardSlot* pci, PDEVICE_OBJECT pdo);
// The deferred routine of every device object: completes the finished
// requests of a PCI board.
VOID dpcForIsr(PKDPC Dpc, PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context);
