// The operating program of the HIX-5316 time-interval-counter board ("qir").
//
// Requests on either channel:
//  - VaqInit: VaqResp 0 with the identity bytes as data;
//  - QirRead: QirResp 0 with the register value in iErr;
//  - QirWrite: QirResp 0 (iErr and fStat 0); the 16-bit value is stored;
//  - QirCmd: a piece of the FPGA configuration; no answer until the one with
//    fLast set, which completes the image and is answered by QirWrResp 0 with
//    the number of messages in cTrans;
//  - QirTrf, QirFini: QirResp 0 (no client sends them).
// Registers: 2 and 3 take the pulse programs, 31 resets and triggers the
// measuring FPGA, 14/15 give the fill counts and 6/7 the FIFO words of
// channels 0/1; 20 reads 0xA55A and 4 reads back what was written to 0 (the
// port self-test); every other register reads what was last written, 0 at
// first. Every write and read is logged.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/common/include/kv_ring.h"
#include "sim/board_program.h"
#include "sim/measuring_fpga.h"

namespace KVdepSim100 {

class QirProgram : public BoardProgram {
public:
    static const int cPorts = 256;
    static const uint16_t uLinePattern = 0xA55A;  // read of port 20

    QirProgram(std::vector<uint8_t> mpbIdentity, const HixBench* pbench);

    WireProto proto() const override { return WireProto::Qir; }
    const char* szName() const override { return "qir"; }
    Answer handle(int iChan, const WireMsg& msg, const std::vector<uint8_t>& mpbData) override;

    // Register access without the wire (also what handle uses).
    uint32_t readRegister(int iChan, int iPort);
    void writeRegister(int iChan, int iPort, uint16_t uVal);

    // Inspection and set-up.
    const std::vector<uint8_t>& identity() const { return _mpbIdentity; }
    void setIdentity(std::vector<uint8_t> mpb) { _mpbIdentity = std::move(mpb); }
    uint32_t reg(int iPort) const { return _mpuReg[iPort & 0xFF]; }
    void setReg(int iPort, uint32_t u) { _mpuReg[iPort & 0xFF] = u; }
    // The last register accesses (kvring::kDefaultCapacity unless set), oldest first.
    std::vector<PortAccess> writes() const { return _mpWrite.toVector(); }
    std::vector<PortAccess> reads() const { return _mpRead.toVector(); }
    void setLogCapacity(std::size_t n);
    std::vector<PortAccess> writesTo(int iPort) const;

    // The configuration image: the last complete one, and the one coming in.
    bool isConfigured() const { return _cConfigLoads > 0; }
    int cConfigLoads() const { return _cConfigLoads; }
    const std::vector<uint8_t>& configImage() const { return _mpbConfig; }
    int cConfigMessages() const { return _cConfigMsgs; }
    const std::vector<uint8_t>& configPartial() const { return _mpbConfigRx; }
    int cConfigPartialMessages() const { return _cConfigMsgsRx; }

    MeasuringFpga& fpga() { return _fpga; }
    const MeasuringFpga& fpga() const { return _fpga; }

private:
    Answer answer(int eType) const;

    std::vector<uint8_t> _mpbIdentity;
    uint32_t _mpuReg[cPorts] = {};
    kvring::Ring<PortAccess> _mpWrite{kvring::kDefaultCapacity}, _mpRead{kvring::kDefaultCapacity};
    std::vector<uint8_t> _mpbConfig, _mpbConfigRx;
    int _cConfigMsgs = 0, _cConfigMsgsRx = 0, _cConfigLoads = 0;
    MeasuringFpga _fpga;
};

}  // namespace KVdepSim100
