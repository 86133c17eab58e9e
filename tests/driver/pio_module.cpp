#include "pio_module.h"

#include <cstring>
#include <new>
#include <wdm.h>

#include "sim/pci_s5920.h"
#include "yek_c.h"
#include "yek_driver.h"

namespace drvtest {

namespace {

using KVdepSim100::S5920Board;
using KVdepYek100::Pmd;
using KVdepYek100::Pmu;
using KVdepYek100::Time;
using KVdepYek100::YekChanKern;
using KVdepYek100::YekControl;
using KVdepYek100::YekMsgBuf;

class Pio_pio_Proto : public KVdepYek100::YekProto {
public:
    Pio_pio_Proto() : YekProto("pio 1 rw", "pio") {}
};

alignas(Pio_pio_Proto) unsigned char mpProto[sizeof(Pio_pio_Proto)];
const KVdepYek100::YekProto* g_pupPio = nullptr;

PioKnobs g_knobs;
PioSeen g_seen;

const int cChanMax = 5;  // channels a card object can have
const int cBuf = 4;

// A channel whose user side is the driver: four buffers of each kind.
class PioChannel : public YekChanKern {
public:
    explicit PioChannel(KVdepYek100::YekMsgSig* pue) : YekChanKern(pue)
    {
        for (int i = 0; i < cBuf; ++i) {
            initPoolDown(&_mpDown[i]);
            initPoolUp(&_mpUp[i]);
        }
    }

    YekMsgBuf _mpDown[cBuf];
    YekMsgBuf _mpUp[cBuf];
};

class PioCard;

class PioDriver : public KVdepYek100::YekDriver {
public:
    PioDriver(PioCard* pcard);

    const KVdepYek100::YekProto* pup(int) const override { return g_pupPio; }
    int vinit() override;
    void vfini() override;
    int putDown(int iCtx, Pmd pmd, int hChan) override;
    void backenable(int, int) override {}
    int interrupt(int) override { return 0; }
    int timer(int iCtx, const Time& now) override;

private:
    PioCard* card() const;
};

// The board: the driver, its channels, and what waits for the board or the timer.
class PioCard : public KVdepYek100::YekCard {
public:
    PioCard(const YekEnvC* pueC, long ioBase, int cChan)
        : YekCard(&_env),
          _env(pueC),
          _drv(this),
          _mpcn{PioChannel(&_env), PioChannel(&_env), PioChannel(&_env), PioChannel(&_env), PioChannel(&_env)},
          _cChan(cChan),
          _ioBase(ioBase)
    {
        addDriver(&_drv);
        for (int i = 0; i < cChan; ++i) {
            _mpcn[i].initPlex(&_drv, i, 0);
            _drv.addChannel(&_mpcn[i]);
        }
    }

    int interrupt(int iCtx) override;
    int timer(int iCtx, const Time& now) override { return _drv.timer(iCtx, now); }

    // The board's registers.
    uint8_t in8(uint32_t off) const { return READ_PORT_UCHAR(port(off)); }
    uint32_t in32(uint32_t off) const { return READ_PORT_ULONG(reinterpret_cast<PULONG>(port(off))); }
    void out8(uint32_t off, uint8_t b) const { WRITE_PORT_UCHAR(port(off), b); }
    void out32(uint32_t off, uint32_t u) const { WRITE_PORT_ULONG(reinterpret_cast<PULONG>(port(off)), u); }

    // Sends an answer up a channel; counts it dropped without a free buffer.
    void answer(int iCtx, int hChan, const YekControl& uc, const char* pchData = nullptr, size_t cbData = 0)
    {
        PioChannel& cn = _mpcn[hChan];
        Pmu pmu = cn.allocUp(cbData);
        if (!pmu) {
            ++g_seen.cDropped;
            return;
        }
        std::memcpy(static_cast<void*>(pmu->puc()), &uc, uc.size());
        if (cbData)
            KVdepYek100::putbuf(pmu->pub(), pchData, cbData);
        cn.putUp(iCtx, pmu, true);
    }

    void startLoad(uint32_t uReg)
    {
        out8(S5920Board::offIndex, static_cast<uint8_t>(uReg));
        out8(S5920Board::offCommand, S5920Board::cmdLoad);
    }

    KVdepYek100::YekEnvRed _env;
    PioDriver _drv;
    PioChannel _mpcn[cChanMax];
    int _cChan;
    long _ioBase;
    // Loads asked for, oldest first; the first is on the board. Each keeps
    // its request's down buffer until the board has answered.
    struct Load {
        int hChan;
        uint32_t uReg;
        Pmd pmd;
    } _mpLoad[8] = {};
    int _cLoad = 0;
    uint32_t _mpcWait[cChanMax] = {};
    uint32_t _uSeq = 0;

private:
    PUCHAR port(uint32_t off) const { return reinterpret_cast<PUCHAR>(static_cast<uintptr_t>(_ioBase) + off); }
};

PioDriver::PioDriver(PioCard* pcard) : YekDriver("pio", pcard) {}

PioCard* PioDriver::card() const
{
    return static_cast<PioCard*>(pca());
}

int PioDriver::vinit()
{
    ++g_seen.cInit;
    return g_knobs.iInitResult;
}

void PioDriver::vfini()
{
    ++g_seen.cFini;
    card()->_cLoad = 0;
    for (uint32_t& c : card()->_mpcWait)
        c = 0;
}

int PioDriver::putDown(int iCtx, Pmd pmd, int hChan)
{
    PioCard* pc = card();
    const YekControl* puc = pmd->puc();
    PioResp r;
    r._eReq = static_cast<uint32_t>(puc->eType());
    bool fAnswer = true;
    auto fits = [&](size_t cb) { return puc->size() >= cb; };
    switch (puc->eType()) {
    case ePioWrite:
        if (!fits(sizeof(PioWrite))) {
            r._eErr = 2;
            break;
        }
        r._uReg = static_cast<const PioWrite*>(puc)->_uReg;
        r._uVal = static_cast<const PioWrite*>(puc)->_uVal;
        pc->out8(S5920Board::offIndex, static_cast<uint8_t>(r._uReg));
        pc->out32(S5920Board::offData, r._uVal);
        pc->out8(S5920Board::offCommand, S5920Board::cmdStore);
        break;
    case ePioRead:
        if (!fits(sizeof(PioRead)) || pc->_cLoad == 8) {
            r._eErr = 2;
            break;
        }
        pc->_mpLoad[pc->_cLoad++] = {hChan, static_cast<const PioRead*>(puc)->_uReg, pmd};
        if (pc->_cLoad == 1)
            pc->startLoad(pc->_mpLoad[0].uReg);
        return 0;
    case ePioWait:
        if (!fits(sizeof(PioWait))) {
            r._eErr = 2;
            break;
        }
        pc->_mpcWait[hChan] = static_cast<const PioWait*>(puc)->_cTicks;
        fAnswer = pc->_mpcWait[hChan] == 0;
        break;
    case ePioEcho: {
        KVdepYek100::YekBuf* pub = pmd->pub();
        pc->answer(iCtx, hChan, r, pub->pchBase(), pub->cGet());
        fAnswer = false;
        break;
    }
    default:
        r._eErr = 1;
        break;
    }
    if (fAnswer)
        pc->answer(iCtx, hChan, r);
    pc->_mpcn[hChan].releaseDown(iCtx, pmd);
    return 0;
}

int PioDriver::timer(int iCtx, const Time& now)
{
    ++g_seen.cTimers;
    if (g_knobs.onTimer)
        g_knobs.onTimer();
    PioCard* pc = card();
    for (int h = 0; h < pc->_cChan; ++h) {
        if (pc->_mpcWait[h] == 0 || --pc->_mpcWait[h] != 0)
            continue;
        PioResp r;
        r._eReq = ePioWait;
        r._tiNow = now;
        r._tiNext = pc->_env.tiNext(Time());
        pc->answer(iCtx, h, r);
    }
    return 0;
}

int PioCard::interrupt(int iCtx)
{
    ++g_seen.cInterrupts;
    uint8_t uStat = in8(S5920Board::offStatus);
    // All ones: no board answers at these ports.
    if (uStat == 0xFF || !(uStat & (S5920Board::fStatReadDone | S5920Board::fStatEvent)))
        return 0;
    ++g_seen.cClaimed;
    if (uStat & S5920Board::fStatReadDone) {
        uint32_t uVal = in32(S5920Board::offData);
        out8(S5920Board::offStatus, S5920Board::fStatReadDone);
        if (_cLoad > 0) {
            PioResp r;
            r._eReq = ePioRead;
            r._uReg = _mpLoad[0].uReg;
            r._uVal = uVal;
            int hChan = _mpLoad[0].hChan;
            Pmd pmd = _mpLoad[0].pmd;
            std::memmove(_mpLoad, _mpLoad + 1, sizeof(Load) * static_cast<size_t>(--_cLoad));
            if (_cLoad > 0)
                startLoad(_mpLoad[0].uReg);
            answer(iCtx, hChan, r);
            _mpcn[hChan].releaseDown(iCtx, pmd);
        }
    }
    if (uStat & S5920Board::fStatEvent) {
        PioEvent ev;
        ev._uCode = in8(S5920Board::offEvent);
        ev._uSeq = ++_uSeq;
        out8(S5920Board::offStatus, S5920Board::fStatEvent);
        answer(iCtx, 0, ev);
    }
    return 1;
}

int getPioMem(YekMod*, YekMemInfo* pmi, int cmi)
{
    if (g_knobs.fAnswerMemory)
        return g_knobs.iMemAnswer;
    if (cmi < 2)
        return -1;
    pmi[0]._s = sizeof(PioCard);
    pmi[1]._s = 256;
    if (g_knobs.fScribbleBlocks) {
        pmi[0]._p = reinterpret_cast<void*>(uintptr_t(0x5A5A5A5A));
        pmi[1]._p = reinterpret_cast<void*>(uintptr_t(0x5A5A5A5A));
    }
    return 2;
}

// The factory of a card object with cChan channels.
template <int cChan>
void* newPioCardOf(YekMod*, const YekEnvC* pueC, YekMemInfo* pmi, int cmi, void* pArg, long ioBase)
{
    ++g_seen.cFactory;
    g_seen.ioBase = ioBase;
    g_seen.pArg = pArg;
    g_seen.cmi = cmi;
    for (int i = 0; i < 2 && i < cmi; ++i) {
        g_seen.mps[i] = pmi[i]._s;
        g_seen.mpp[i] = pmi[i]._p;
    }
    if (g_knobs.fNoCard || cmi < 1 || !pmi[0]._p || pmi[0]._s < sizeof(PioCard))
        return nullptr;
    // The card object lives in the first block the host allocated; the host
    // frees the block and never destroys the object.
    static_assert(cChan <= cChanMax, "more channels than a card object has");
    int c = g_knobs.cChanCard > 0 && g_knobs.cChanCard <= cChanMax ? g_knobs.cChanCard : cChan;
    g_seen.pvCard = new (pmi[0]._p) PioCard(pueC, ioBase, c);
    return g_seen.pvCard;
}

YekDriverDesc mpuDdPio[] = {{2, nullptr}};
YekDriverDesc mpuDdPio4[] = {{4, nullptr}};
YekDriverDesc mpuDdPio5[] = {{5, nullptr}};

void ctPio()
{
    g_pupPio = new (mpProto) Pio_pio_Proto;
    mpuDdPio[0]._pup = g_pupPio;
    mpuDdPio4[0]._pup = g_pupPio;
    mpuDdPio5[0]._pup = g_pupPio;
}

YekAdaptPci adPio = {{eAdaptPci, "PIO-5920", "kavor", "pci", ""}, &g_iPioArg, {0x10E8, 0x5920}, {0, 0},
                     {{2, S5920Board::cbAddOn, 1}, {1, S5920Board::cbOperation, 0}}};
YekAdaptPci adPioBoth = {{eAdaptPci, "PIO-BOTH", "kavor", "pci", ""}, &g_iPioArg, {0x10E8, 0x5920}, {0, 0},
                         {{3, S5920Board::cbAddOn, 1}, {1, S5920Board::cbOperation, 0}}};
const YekAdapt* const mppadPio[] = {&adPio._ad, &adPioBoth._ad, nullptr};

}  // namespace

int g_iPioArg = 0x5920;

const KVdepYek100::YekProto* pioProto()
{
    return g_pupPio;
}

PioKnobs& pioKnobs()
{
    return g_knobs;
}

PioSeen& pioSeen()
{
    return g_seen;
}

void* pioChannelHandle(int hChan)
{
    auto* pc = static_cast<PioCard*>(g_seen.pvCard);
    return pc && hChan < pc->_cChan ? pc->_mpcn[hChan].getHandle() : nullptr;
}

void pioReset()
{
    g_knobs = PioKnobs{};
    g_seen = PioSeen{};
}

const YekMod ykPio = {1, 10, newPioCardOf<2>, getPioMem, 1, mpuDdPio, 0, nullptr, ctPio, mppadPio};
const YekMod ykPio4 = {1, 10, newPioCardOf<4>, getPioMem, 1, mpuDdPio4, 0, nullptr, ctPio, mppadPio};
const YekMod ykPio5 = {1, 10, newPioCardOf<5>, getPioMem, 1, mpuDdPio5, 0, nullptr, ctPio, mppadPio};

}  // namespace drvtest
