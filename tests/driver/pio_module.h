// A card module for the PCI board tests: one 'p' adapter of the simulated
// S5920 board (sim/pci_s5920.h) and a board factory built on the message
// core. The card object has one driver "pio" with two kernel channels
// (ykPio4 and ykPio5: four and five) that answer a small protocol of
// register and timer requests; it reaches the
// board through the port accesses of its register region, and takes the
// board's answers in its interrupt entry.
//
// Requests and their answer PioResp:
//   PioWrite (reg, val)  stores val in the board register: answered at once
//   PioRead (reg)        loads the board register: answered at the board's
//                        interrupt that reports the load done; its down
//                        buffer is held until then
//   PioWait (cTicks)     answered at the cTicks-th timer step from now
//   PioEcho + data       answered at once with the same data
// A board event (S5920Board::raiseEvent) is sent up channel 0 as PioEvent.
#pragma once

#include <cstdint>
#include <functional>

#include "yek.h"
#include "yekad.h"

namespace drvtest {

enum PioType : uint32_t {
    ePioWrite = 4,
    ePioRead = 5,
    ePioWait = 6,
    ePioEcho = 7,
    ePioResp = 8,
    ePioEvent = 16,
};

struct PioWrite : KVdepYek100::YekControl {
    PioWrite(uint32_t uReg, uint32_t uVal) : YekControl(ePioWrite, sizeof(PioWrite)), _uReg(uReg), _uVal(uVal) {}
    uint32_t _uReg;
    uint32_t _uVal;
};

struct PioRead : KVdepYek100::YekControl {
    explicit PioRead(uint32_t uReg) : YekControl(ePioRead, sizeof(PioRead)), _uReg(uReg) {}
    uint32_t _uReg;
};

struct PioWait : KVdepYek100::YekControl {
    explicit PioWait(uint32_t cTicks) : YekControl(ePioWait, sizeof(PioWait)), _cTicks(cTicks) {}
    uint32_t _cTicks;
};

struct PioEcho : KVdepYek100::YekControl {
    PioEcho() : YekControl(ePioEcho, sizeof(PioEcho)) {}
};

// The answer: the type answered, the register and value, an error (1: a type
// the card does not know, 2: a control shorter than its type), the time of
// the timer step that answered and the host's next tick then.
struct PioResp : KVdepYek100::YekControl {
    PioResp() : YekControl(ePioResp, sizeof(PioResp)) {}
    uint32_t _eReq = 0;
    uint32_t _uReg = 0;
    uint32_t _uVal = 0;
    uint32_t _eErr = 0;
    KVdepYek100::Time _tiNow;
    KVdepYek100::Time _tiNext;
};

struct PioEvent : KVdepYek100::YekControl {
    PioEvent() : YekControl(ePioEvent, sizeof(PioEvent)) {}
    uint32_t _uCode = 0;
    uint32_t _uSeq = 0;
};

// The protocol: signature "pio 1 rw", short name "pio".
const KVdepYek100::YekProto* pioProto();

// Knobs the tests set before the driver builds or starts the board.
struct PioKnobs {
    bool fAnswerMemory = false;  // getMem answers iMemAnswer and fills nothing
    int iMemAnswer = 0;
    bool fScribbleBlocks = false;  // getMem also writes addresses into the table
    bool fNoCard = false;          // the factory makes no card object
    int iInitResult = 0;           // what the driver's start hook returns
    int cChanCard = 0;             // channels of the card objects made from now (0: the module's)
    std::function<void()> onTimer;  // called at every timer step of the card object
};

// What the card module saw, for the tests.
struct PioSeen {
    int cFactory = 0;
    long ioBase = 0;
    void* pArg = nullptr;
    int cmi = 0;
    void* pvCard = nullptr;
    size_t mps[2] = {0, 0};
    void* mpp[2] = {nullptr, nullptr};
    unsigned cInterrupts = 0;  // interrupt entries
    unsigned cClaimed = 0;
    unsigned cTimers = 0;
    unsigned cInit = 0;
    unsigned cFini = 0;
    unsigned cDropped = 0;  // answers without a free up buffer
};

PioKnobs& pioKnobs();
PioSeen& pioSeen();
// The host handle of a channel of the newest card object; null without one.
void* pioChannelHandle(int hChan);
// Knobs and records back to their defaults.
void pioReset();

// The adapter's argument the factory receives.
extern int g_iPioArg;

// The module: driver "pio" with two channels, 10 timer ticks per second;
// adapters by "CardType": 0 the board (board registers: 16 bytes with flag
// 2; operation registers: 128 bytes with flag 1), 1 the same with both flags
// on the board registers' region.
extern const YekMod ykPio;
// The same with four channels, and with five (one past the PCI board's
// table of four a driver).
extern const YekMod ykPio4;
extern const YekMod ykPio5;

}  // namespace drvtest
