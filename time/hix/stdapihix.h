// One measurement instance of the burst counter: its parameters, its board
// connection, the event counters of its two input channels and the epoch
// time of the timeout watch.
#pragma once

#include <iosfwd>

#include "sm.h"
#include "stdapic.h"
#include "tico.h"

namespace KVdepQir100 {
class QirLocalTaskInitializer;
class QirTaskPlex;
}  // namespace KVdepQir100

// Device names of the measured board and of its signal simulator (with these
// names the simulator is the measured board itself).
extern const char* const szDut;
extern const char* const szSim;
// Passes of the port self-test; 0 runs until a key is pressed.
extern const int cRun;

class StdApiHixBurst : public StdApiC {
public:
    enum { ceT1 = 0, ceT2 = 1, ceTrm = 2, ceCtm = 3, ceCch = 4, ccParams = 5 };

    // Board clock period: a delay of T seconds is T / rdTick ticks, truncated.
    static constexpr double rdTick = 3.3333333333333334e-8;
    // Lines of one FIFO of the board: no pass reads more from a channel.
    static constexpr int ccFifoLines = 4096;

    // The event counter of one input channel: two captures of the board's
    // 16-bit event count make an interval, corrected for the counter's wraps.
    class ChanCount : public SmM {
    public:
        enum { ceInit = 0, ceWait = 1, ceDone = 2, ceFail = 3 };

        ChanCount();
        void reset(int fCont);
        void capt(int n);
        void wrap(int n);
        // The interval's count, then ready for the next interval; -1 when
        // not complete.
        int c();
        bool isDone() const { return isState(ceDone); }

        int _fCont;
        int _iEcCur;
        int _iEcPrev;
        int _cWrap;
    };

    StdApiHixBurst();

    const Failable& checkParam(int e, const Param& pa) override;

    void init(int i, std::ostream* pos);
    void fini();

    int hix_init(int fSim);
    int hix_fini();
    int hix_arm();
    int hix_trigger();
    int hix_test_ports();
    int hix_loop();
    int proceed(int iChan, KVdepMoru100::ScanLine& sl);
    int hix_get_counts(int* pn, int* pm);
    int hix_get_count(int* pn) { return hix_get_counts(pn, nullptr); }

    KVdepQir100::QirTaskPlex* prp() const;
    KVdepQir100::QirTaskPlex* prpSim() const;
    int isSim() const { return _fSim; }
    const KVdepMoru100::TiCore* ptc() const { return &KVdepMoru100::tc2n5; }
    ChanCount& pcc(int i) { return _mpcc[i]; }

    bool isCh2() const { return _mppa[ceCch].i() == 2; }
    bool isCont() const { return _mppa[ceCtm].i() == 0; }
    bool isSingle() const { return !isCont(); }

    int _fSim;
    KVdepQir100::QirLocalTaskInitializer* _pli;
    KVdepQir100::QirLocalTaskInitializer* _pliFreq;
    ParamT mppaT[ccParams];
    Param _mppa[ccParams];
    const int _fEdgeRise;
    ChanCount _mpcc[2];
    KVdepMoru100::Timer _tmEpoch;

private:
    // A board connection whose transport failed: its status becomes the
    // instance status (true). A plain failure such as an unknown model is no
    // transport failure.
    bool takeTransportFailure(const char* szFunc, KVdepQir100::QirLocalTaskInitializer* pli);
    bool transportFailed(const char* szFunc);
    // One register write to B or S, false once the transport failed.
    bool write(const char* szFunc, KVdepQir100::QirTaskPlex* prp, int iPort, int iVal);
    // One register read; false once the transport failed.
    bool read(const char* szFunc, int iPort, int* pn);
    int refuseClosed(const char* szFunc);
};

std::ostream& operator<<(std::ostream& os, const StdApiHixBurst::ChanCount& cc);
