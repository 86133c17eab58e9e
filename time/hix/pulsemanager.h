// Writes pulse programs into one of the board's two pulse FIFOs: unit 0
// (port 2) takes the capture program, unit 1 (port 3) the program of the
// signal simulator. An entry (opcode, chip, delay in ticks of the 30 MHz
// board clock) is three writes.
#pragma once

namespace KVdepQir100 {
class QirTaskPlex;
}

class PulseManager {
public:
    enum { REC = 1, PET = 2, WAIT = 8 };

    PulseManager(KVdepQir100::QirTaskPlex* prp, int i) : _prp(prp), _i(i) {}

    int iFfPul() const { return 2 + (_i & 1); }

    // Each returns 1 when the board plexer's status is fail or bad afterwards.
    int fillPulseFifo(int fOpc, int fChip, int iDelay);
    int setupDetector(bool fSingle);
    int setupPulseCapt(double rdT1, double rdT2, bool fSingle);

    // T seconds as ticks, truncated toward zero; the caller keeps the count
    // within the signed 32-bit range.
    static int iTicks(double rdT);

    KVdepQir100::QirTaskPlex* _prp;
    int _i;
};
