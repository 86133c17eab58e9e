// The time-interval analyzer: the measurement modes, which carry the
// configuration the client sends and turn the FIFO lines of the server's
// sample answers into results, and the client that drives a mode through
// configuration and sampling over a moru channel.
//
//   MoruPlex plex(pucMoru, pucIo);     // the application's channels
//   ModeAvg mode(1000, 10, ti(1.0));   // 1000 periods an interval, 10 intervals
//   plex.callMoruConfig(&mode);
//   while (plex.callMoruSample(&mode) && !mode.isDone()) {}
//   for (u32 k = mode.cSamp(); k; --k) use(mode.rdFreq());
//
// Every failure of a mode (the server's answers, the lines, the exchange) is
// recorded in the mode's status as E_FAIL; a failed mode decodes nothing more.
#pragma once

#include <cstdint>
#include <deque>
#include <list>
#include <streambuf>
#include <utility>

#include "dbg.h"
#include "failable.h"
#include "moruexport.h"
#include "tico.h"
#include "yek_task.h"
#include "yek_user.h"
#include "yekpro_moru.h"

namespace KVdepMoru100 {

using KVdepYek100::Time;

// Seconds as a time: the whole seconds, and the rest rounded to nanoseconds
// without carrying a rounded-up 1000000000 into the seconds. A negative or
// undefined value gives 0:0, a value past the 32-bit seconds the largest time.
MORU_API Time ti(double rd);

// One kind of measurement. The application owns it; the client borrows it
// for each call. Status, epoch bases and the time-out limit persist across
// sample calls: each call continues the line stream of the one before.
class MORU_API MoruMode : public Failable, public DebugLog {
public:
    MoruMode(int cFifo, u32 cBlock, const Time& tiTmo);

    // Decodes the 8-byte lines of psb, from FIFO iFifo (0 or 1).
    virtual void sample(std::streambuf* psb, int iFifo) = 0;
    // Keeps the time core and turns the time-out into fraction units; a
    // time-out of 2^30 ticks (35.791390555 s) or more fails the mode.
    virtual void init(const TiCore* ptc);
    virtual bool isDone() const = 0;
    virtual u32 cSamp() const = 0;
    virtual ~MoruMode();

    const TiCore* ptc() const { return _ptc; }
    const MoruConfig& tc() const { return _tc; }
    u32 cBlock() const { return _cBlock; }
    int cFifo() const { return _cFifo; }
    Time tiTmo() const { return _tiTmo; }
    // Channel 0 is decoded on falling edges, every other on rising edges,
    // as the configuration's edges 'f' and 'r' ask.
    bool fEdgeRise(int i) const { return i != 0; }
    bool fModeFilt(int) const { return false; }

protected:
    // 1 when a limit is set and tmCur is at or after it; otherwise starts the
    // window at tmCur when none is set or fReset is true, and gives 0.
    int timeout(Timer tmCur, bool fReset);

    // The checks every line loop begins with: a time core (init has run) and
    // a FIFO index the mode reads. False, with the mode failed, otherwise.
    bool canSample(int iFifo);
    // The next 8 bytes; a short rest is consumed and dropped.
    static bool readLine(std::streambuf* psb, char* mpch);
    // The epoch base one epoch on; the arithmetic wraps as the hardware's.
    void addEpoch(Timer& tmEpoch) const;
    // The line's edge index names an edge of its pattern; else the mode fails.
    bool hasEdge(const ScanLine& sl);
    // The time stamp of a hit line on the given epoch base.
    Timer stamp(const ScanLine& sl, Timer tmEpoch) const;
    // Ends the trace of a one-FIFO line loop: " *" when the block is full,
    // " X" when the mode failed, each on a line of its own.
    void traceEnd();

public:
    const int _cFifo;
    const TiCore* _ptc;
    MoruConfig _tc;
    u32 _cBlock;  // samples per block; 0: no limit
    Timer _tmTmo;
    Timer _tmLim;  // 0: not set
    union {
        Timer _tmEpoch;        // one-FIFO modes
        Timer _mptmEpoch[2];   // two-FIFO modes, per FIFO
    };
    Time _tiTmo;
};

// Frequency and period, averaged over a number of signal periods: the
// hardware prescaler stamps every n-th period, and software decimation keeps
// every m-th stamp where the factor is above the prescaler's range.
class MORU_API ModeAvg : public MoruMode {
public:
    ModeAvg(u32 cAverage, u32 cBlock, const Time& tiTmo);

    // Splits the averaging factor into prescaler and decimation; a factor
    // of 0 fails the mode.
    void init(const TiCore* ptc) override;
    void sample(std::streambuf* psb, int iFifo) override;
    bool isDone() const override;
    u32 cSamp() const override { return cMeas(); }

    // Measured intervals: stored stamps less one.
    u32 cMeas() const;
    // The frequency of the oldest interval, which is consumed; 0.0 without
    // one, and 0.0 with the mode failed when its stamps are out of order.
    double rdFreq();
    // 1 / rdFreq(), consuming the interval the same way; 0.0 when rdFreq is.
    double rdPeriod();
    // Starts a new block; the epoch base and the time-out limit stay.
    void clear();

    u32 _cScale;  // periods per interval, as asked for
    u32 _cRep;    // one stamp kept per _cRep received
    u32 _iRep;
    std::deque<Timer> _dqTimes;
};

// Two FIFOs: leading-edge stamps of FIFO 0 (channel 0) paired with
// trailing-edge stamps of FIFO 1 (channel 1), in measurement segments that
// an ARM line of a FIFO starts. Results refer to the newest segments.
class MORU_API ModeDual : public MoruMode {
public:
    enum { LE = 0, TE = 1 };
    typedef std::deque<Timer> Segment;

    Segment& dqTimes(int i) { return _mpdqSeg[i].back(); }
    const Segment& dqTimes(int i) const { return _mpdqSeg[i].back(); }
    u32 sizeLE() const;
    u32 sizeTE() const;

    void sample(std::streambuf* psb, int iFifo) override;
    void init(const TiCore* ptc) override;
    bool isDone() const override;
    u32 cSamp() const override;

protected:
    ModeDual(u32 cSampRq, const Time& tiTmo, u32 cExtraLE);

public:
    std::deque<Segment> _mpdqSeg[2];
    const u32 _cExtraLE;  // leading stamps needed beyond one a sample
};

// Pulse width: from a leading to the next trailing edge.
class MORU_API ModePulseWidth : public ModeDual {
public:
    ModePulseWidth(int eMode, u32 cSampRq, const Time& tiTmo);

    // The oldest width in seconds, consumed; 0.0 without one, and 0.0 with
    // the mode failed when its trailing stamp is not after the leading one.
    double rdPulseWidth();

    int32_t _eMode;
};

// Pulse: both phases of one signal period, from a leading edge to the
// trailing edge and on to the next leading edge.
class MORU_API ModePulse : public ModeDual {
public:
    ModePulse(int eMode, u32 cSampRq, const Time& tiTmo);

    // The two phases of the oldest period in seconds; its first leading and
    // first trailing stamps are consumed. (0.0, 0.0) without a whole period,
    // and with the mode failed when the three stamps are out of order.
    std::pair<double, double> pardPulse();
    // Named by the interface without behaviour: declared only, never
    // defined, and nothing calls them.
    double rdFirst();
    double rdSecond();

    int32_t _eMode;
    std::pair<double, double> _pardPulse;
};

// Totalizing: events counted between arm points, as running totals since
// the mode was built. The second base is a list the mode itself does not use.
class MORU_API ModeTotalCount : public MoruMode, public std::list<std::pair<int64_t, int64_t>> {
public:
    ModeTotalCount(int eMode, u32 cSampRq, const Time& tiTmo);

    // The prescaler counts whole cycles of its largest value.
    void init(const TiCore* ptc) override;
    void sample(std::streambuf* psb, int iFifo) override;
    bool isDone() const override;
    u32 cSamp() const override;

    // The oldest count, consumed; 0 without one.
    Counter count();
    // Named by the interface without behaviour: declared only, never
    // defined, and nothing calls them.
    Counter ctCurrent();
    void setEdge(int);

    int32_t _eMode;
    Counter _ctEpoch;
    std::deque<Timer> _dqCounts;
};

// One pulse of a pulse train: its duration and the chip flag.
class MORU_API PulseLine : public Time {
public:
    PulseLine(const Time& ti, bool fChip) : Time(ti), _fChip(fChip) {}
    bool fChip() const { return _fChip; }

    bool _fChip;
};

// A queue of pulses, written out one at a time as 6-byte records. The owner
// fills the queue.
class MORU_API PulseMode : public Failable, public std::deque<PulseLine> {
public:
    PulseMode() = default;

    virtual int cPulse() const { return static_cast<int>(size()); }
    // Writes the oldest pulse into mpch (0, chip flag, ticks - 1 in four
    // bytes, most significant first) and takes it off. A pulse of 2^30 ticks
    // or more is taken off without a record, and the queue fails.
    virtual void pulse(char* mpch, const TiCore* ptc);
};

// The client of an analyzer server: runs the configuration and the sample
// exchanges on a moru channel, one at a time, pumping the user channel that
// carries it on the caller's thread.
class MORU_API MoruPlex : public KVdepYek100::TaskPlex, public Failable {
public:
    typedef KVdepYek100::TaskFunc::Func Func;

    MoruPlex(KVdepYek100::YekChannel* puc, KVdepYek100::YekChanUser* pucIo);
    ~MoruPlex() override;

    MoruPlex(const MoruPlex&) = delete;
    MoruPlex& operator=(const MoruPlex&) = delete;

    // The mode's init, then its configuration sent and answered; 1 when the
    // mode is good afterwards. A mode that init fails sends nothing, and a
    // refused configuration fails the mode ("MoruResp" and the code).
    int callMoruConfig(MoruMode* ptm);
    // One sample request and its answers, fed to the mode; 1 when the mode
    // is good afterwards.
    int callMoruSample(MoruMode* ptm);

    // Runs ptf, created with new by the caller, to its end: true when it
    // finished (the task engine owns it now). False when the pump stopped
    // before that (a failed transfer, or an answer that never came): ptf is
    // deleted, the messages it held are released, and the plexer is ready.
    bool run(Func* ptf);
    void done(KVdepYek100::Task* pta) override;

    KVdepYek100::YekChanUser* _pucIo;
    KVdepYek100::YekChannel* _puc;
    const TiCore* _ptc;
    bool _fRun;

private:
    int finish(MoruMode* ptm, bool fRan);
};

// The configuration exchange: the mode's MoruConfig, answered by a MoruResp.
class MORU_API MoruConfigClientFunc : public KVdepYek100::TaskFunc::Func {
public:
    MoruConfigClientFunc(int cnServer, MoruMode* ptm, const TiCore* ptc)
        : _cnServer(cnServer), _ptm(ptm), _ptc(ptc)
    {
    }
    int func(int e) override;
    ~MoruConfigClientFunc() override;

    int cnServer() const { return _cnServer; }

    int32_t _cnServer;
    MoruMode* _ptm;
    const TiCore* _ptc;
};

// The sample exchange: a MoruSample, answered by one MoruSampleResp per
// FIFO, whose lines go to the mode.
class MORU_API MoruSampleClientFunc : public KVdepYek100::TaskFunc::Func {
public:
    MoruSampleClientFunc(int cnServer, MoruMode* ptm, const TiCore* ptc)
        : _cnServer(cnServer), _ptm(ptm), _ptc(ptc)
    {
    }
    int func(int e) override;
    ~MoruSampleClientFunc() override;

    int cnServer() const { return _cnServer; }

    int32_t _cnServer;
    MoruMode* _ptm;
    const TiCore* _ptc;
};

}  // namespace KVdepMoru100
