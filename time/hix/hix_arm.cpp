// Programming the board for a burst, starting it, and the port self-test.
#include <ios>
#include <sstream>

#include <conio.h>

#include "kvwindows.h"
#include "pulsemanager.h"
#include "qir.h"
#include "stdapihix.h"

using KVdepQir100::QirTaskPlex;

int StdApiHixBurst::hix_arm()
{
    const char* szFunc = "hix_arm";
    if (isFail())
        return -1;
    QirTaskPlex* B = prp();
    if (!B)
        return refuseClosed(szFunc);
    // The parameter setters refuse such delays already.
    for (int e : {ceT1, ceT2})
        if (!fitsInt32(_mppa[e].rd() / rdTick))
            return _setStatus(szFunc, Failable("bad parameter", e));
    QirTaskPlex* S = prpSim();

    // Each step runs only while the transport holds; the first failure ends
    // the arm with the transport's status.
    bool fOk = true;
    auto w = [&](QirTaskPlex* p, int iPort, int iVal) {
        if (fOk)
            fOk = write(szFunc, p, iPort, iVal);
    };
    auto program = [&](QirTaskPlex* p, int iUnit) {
        if (!fOk)
            return;
        PulseManager pm(p, iUnit);
        if (iUnit == 1)
            pm.setupDetector(isSingle());
        else
            pm.setupPulseCapt(_mppa[ceT1].rd(), _mppa[ceT2].rd(), isSingle());
        fOk = !transportFailed(szFunc);
    };
    w(B, 31, 0x0001);
    w(B, 31, 0x05FF);
    if (S) {
        w(S, 31, 0x0001);
        w(S, 31, 0x05FF);
        program(S, 1);
        w(S, 22, 0xF004);
        if (isCh2())
            w(S, 22, 0xE004);
        w(S, 22, 0xC006);
        w(S, 20, isCh2() ? 0xD000 : 0x9000);
    }
    program(B, 0);
    w(B, 23, 0xC010);
    w(B, 31, 0x05F0);
    w(B, 9, 0x7FFF);
    w(B, 30, 0x8003);
    // Both channels, whatever CCH says; channel 1 has bit 15 set.
    for (int iChan = 0; iChan < 2; ++iChan) {
        int fCh = iChan ? 0x8000 : 0;
        w(B, 11, fCh | 0x0F00);
        w(B, 10, fCh | 0x000F);
        w(B, 8, fCh | 0x1000 | _fEdgeRise);
    }
    w(B, 30, 0x0003);
    w(B, 31, 0x0403);
    w(B, 12, _mppa[ceTrm].i() == 'b' ? 1 : 0);
    if (S && _mppa[ceTrm].i() == 'b')
        w(S, 31, 0x0202);
    if (!fOk)
        return -1;
    if (S)
        Sleep(0);
    pcc(0).reset(isCont());
    pcc(1).reset(isCont());
    _tmEpoch = 0;
    return _setStatus(szFunc, faOk);
}

int StdApiHixBurst::hix_trigger()
{
    const char* szFunc = "hix_trigger";
    QirTaskPlex* B = prp();
    if (!B)
        return refuseClosed(szFunc);
    if (!write(szFunc, B, 31, prpSim() ? 0x0203 : 0x0201))
        return -1;
    return _setStatus(szFunc, faOk);
}

int StdApiHixBurst::hix_test_ports()
{
    const char* szFunc = "hix_test_ports";
    QirTaskPlex* B = prp();
    QirTaskPlex* S = prpSim();
    // The test drives the lines from the simulator.
    if (!B || !S)
        return refuseClosed(szFunc);
    B->callQirWrite(31, 0x0001);
    B->callQirWrite(31, 0x05FF);
    B->callQirWrite(20, 0);
    if (S != B) {
        S->callQirWrite(31, 0x0001);
        S->callQirWrite(31, 0x05FF);
    }
    int fMask = 0;
    for (int iPass = 0; cRun ? iPass < cRun : !_kbhit(); ++iPass) {
        B->callQirWrite(31, (iPass & 4) ? 0x0103 : 0x0102);
        int n = B->callQirRead(20);
        if (n != 0xA55A)
            return _setStatus(szFunc, Failable("bad line pattern ", n));
        if (iPass == 0) {
            fMask = 0xFFFF;
            S->callQirWrite(0, 0xABEE);
            S->callQirWrite(20, fMask);
        }
        for (int fPol = 0; fPol < 2; ++fPol) {
            for (int iBit = 0; iBit < 16; ++iBit) {
                if (!(fMask & (1 << iBit)))
                    continue;
                int fPat = fPol ? ~(1 << iBit) : 1 << iBit;
                S->callQirWrite(0, fPat);
                S->callQirWrite(31, 0x0600);
                B->callQirWrite(31, 0x0700);
                int nRead = B->callQirRead(4);
                if (nRead != (fPat & 0xFFFF)) {
                    std::ostringstream os;
                    os << " i/o bit mismatch " << std::hex << nRead << ' ' << fPat;
                    _logFunc(szFunc, os.str());
                    return _setStatus(szFunc, Failable("i/o bit mismatch", nRead));
                }
                if (B->isFail())
                    return _setStatus(szFunc, static_cast<const Failables&>(*B));
            }
        }
    }
    S->callQirWrite(20, 0);
    return _setStatus(szFunc, faOk);
}
