// The operating program of the boards of the sio card module (PYL-2817
// digital I/O, VUZ-2958).
//
// Requests on either channel: VaqInit (VaqResp 0 with the identity), SioWrite
// (SioResp 0; the value is stored), SioRead (SioResp 0 with the value in
// fStat), SioSync (SioResp 0; the flags are logged).
// Port 0 carries the twelve outputs when written (O01-O06 in bits 0-5,
// O07-O12 in bits 8-13) and the twelve inputs when read (I08..I01 in bits
// 0..7, I12..I09 in bits 12..15). The inputs are set by the test bench, or,
// with the loopback, wired to the outputs of the same number. Other ports read
// what was last written.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/common/include/kv_ring.h"
#include "sim/board_program.h"

namespace KVdepSim100 {

struct SioBench {
    uint16_t _uInputs = 0;    // the input lines in the bit layout of a read of port 0
    bool _fLoopback = false;  // inputs follow the outputs of the same number
};

class SioProgram : public BoardProgram {
public:
    static const int cPorts = 256;

    SioProgram(std::vector<uint8_t> mpbIdentity, const SioBench* pbench);

    WireProto proto() const override { return WireProto::Sio; }
    const char* szName() const override { return "sio"; }
    Answer handle(int iChan, const WireMsg& msg, const std::vector<uint8_t>& mpbData) override;

    // The input image a read of port 0 gives for the given outputs, wired one to one.
    static uint16_t loopback(uint16_t uOutputs);

    const std::vector<uint8_t>& identity() const { return _mpbIdentity; }
    void setIdentity(std::vector<uint8_t> mpb) { _mpbIdentity = std::move(mpb); }
    uint16_t outputs() const { return _mpuPort[0]; }
    uint16_t port(int iPort) const { return _mpuPort[iPort & 0xFF]; }
    // The last accesses and syncs (kvring::kDefaultCapacity unless set), oldest first.
    std::vector<PortAccess> writes() const { return _mpWrite.toVector(); }
    std::vector<PortAccess> reads() const { return _mpRead.toVector(); }
    std::vector<uint32_t> syncs() const { return _mpSync.toVector(); }
    void setLogCapacity(std::size_t n);

private:
    uint16_t readPort(int iPort) const;

    std::vector<uint8_t> _mpbIdentity;
    const SioBench* _pbench;
    uint16_t _mpuPort[cPorts] = {};
    kvring::Ring<PortAccess> _mpWrite{kvring::kDefaultCapacity}, _mpRead{kvring::kDefaultCapacity};
    kvring::Ring<uint32_t> _mpSync{kvring::kDefaultCapacity};
};

}  // namespace KVdepSim100
